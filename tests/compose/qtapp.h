// A QApplication for the widget tests of this directory, created once before the first test.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>

namespace telvane::testing {

class QtAppEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        static int argc = 1;
        static char name[] = "telvane-test";
        static char* argv[] = {name, nullptr};
        if (!QApplication::instance()) app_ = new QApplication(argc, argv);
    }

private:
    QApplication* app_ = nullptr;
};

inline const bool kQtAppRegistered = (::testing::AddGlobalTestEnvironment(new QtAppEnvironment), true);

}  // namespace telvane::testing
