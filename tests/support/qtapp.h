// The one QApplication of a widget test program, created before the first test (offscreen under
// CTest). Include this header in any test file that needs widgets; application() gives the instance to
// fixtures that must make sure it exists before their own set-up; waitUntil() lets events run until a
// condition holds.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>

#include <functional>

namespace telvane::test {

inline QApplication* application() {
    static int argc = 1;
    static char name[] = "telvane-test";
    static char* argv[] = {name, nullptr};
    if (auto* existing = qobject_cast<QApplication*>(QCoreApplication::instance())) return existing;
    return new QApplication(argc, argv);
}

class QtAppEnvironment : public ::testing::Environment {
public:
    void SetUp() override { application(); }
};

// Lets events run until `done` holds or `seconds` pass; returns whether it held.
inline bool waitUntil(const std::function<bool()>& done, int seconds) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > seconds * 1000) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

inline const bool kQtAppRegistered = (::testing::AddGlobalTestEnvironment(new QtAppEnvironment), true);

}  // namespace telvane::test
