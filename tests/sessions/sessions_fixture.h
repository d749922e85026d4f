// Shared set-up of the session tests: one QApplication, a fresh program directory and default
// settings per test, scripted prompts, recorded error dialogs (answered from a queue), answering a
// modal window once it is up, and waiting for a condition while events run.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>

#include "support/ptymodem.h"
#include "support/datadir.h"
#include "support/modal.h"
#include "support/qtapp.h"
#include <QPointer>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "transport/dispatcher.h"
#include "faximage/mhcoder.h"
#include "faximage/ovffile.h"
#include "sessions/faxwindows.h"
#include "app/appstate.h"
#include "settings/programdir.h"
#include "app/uihelpers.h"
#include "support/scriptedprompter.h"

namespace telvane::sessiontest {

using test::FakeModem;

inline QApplication* app() { return telvane::test::application(); }

using telvane::test::rebuildLogs;
using telvane::test::whenModal;

// Clicks the button once it shows, polling from the event loop (never waiting inside a handler,
// so work that runs in the window's own handlers can finish first); fails after `seconds`.
inline void clickWhenVisible(QAbstractButton* button, int seconds = 40) {
    auto* timer = new QTimer;
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    timer->setInterval(20);
    QPointer<QAbstractButton> target(button);
    QObject::connect(timer, &QTimer::timeout, [timer, clock, target, seconds] {
        if (!target || target->isVisible() || clock->elapsed() > seconds * 1000) {
            timer->stop();
            timer->deleteLater();
            if (!target) return;
            if (!target->isVisible()) ADD_FAILURE() << "button never showed";
            target->click();
        }
    });
    timer->start();
}

using telvane::test::waitUntil;

inline QStringList readLines(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    QString text = QString::fromUtf8(f.readAll());
    if (text.endsWith(QStringLiteral("\r\n"))) text.chop(2);
    return text.split(QStringLiteral("\r\n"));
}

// Writes an OVF file of `pages` pages with a black bar on each.
inline bool writeFax(const QString& path, int pages) {
    faximage::OvfWriter w;
    if (w.create(path.toStdString(), "TEST") != 0) return false;
    faximage::FaxLineCoder coder;
    std::vector<uint8_t> white(1728 / 8, 0), bar(1728 / 8, 0);
    for (size_t i = 20; i < 60; ++i) bar[i] = 0xFF;
    for (int p = 0; p < pages; ++p) {
        coder.setup(1728, 0, false);
        if (w.beginPage(0) != 0) return false;
        for (int y = 0; y < 400; ++y) {
            const std::vector<uint8_t>& row = (y > 100 && y < 300) ? bar : white;
            const size_t n = coder.codeLine(row.data());
            if (w.appendRecord(coder.data(), n) != 0) return false;
        }
        if (w.endPage() != 0) return false;
    }
    return w.close() == 0;
}

class SessionsTest : public ::testing::Test {
protected:
    void SetUp() override {
        app();
        telvane::transport::setEventPump([] { app::letMessagesRun(); });
        ASSERT_TRUE(tmp_.isValid());
        dir_ = telvane::test::useAsProgramDir(tmp_);
        app::appSettings().Modem.ComPort = 0;
        app::firstRunSetupPending() = false;
        sessions::setErrorDialogInterceptor([this](const sessions::ErrorDialogRequest& r) {
            errors.push_back(r);
            if (errorAnswers.empty()) return 1;
            const int answer = errorAnswers.front();
            errorAnswers.erase(errorAnswers.begin());
            return answer;
        });
    }
    void TearDown() override { sessions::setErrorDialogInterceptor(nullptr); }

    const std::string& dir() const { return dir_; }
    QString qdir() const { return QString::fromStdString(dir_); }
    ScriptedPrompter& prompts() { return prompter_.get(); }

    std::vector<sessions::ErrorDialogRequest> errors;
    std::vector<int> errorAnswers;

private:
    QTemporaryDir tmp_;
    std::string dir_;
    ScopedScriptedPrompter prompter_;
};

}  // namespace telvane::sessiontest
