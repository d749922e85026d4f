// Shared set-up of the main-window tests: one QApplication, a fresh data directory per test,
// hooks and prompts reset, logs seeded through the table engine, and a way to answer modal dialogs.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>

#include "support/datadir.h"
#include "support/qtapp.h"
#include <QDir>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>
#include <memory>
#include <string>

#include "records/fax_tables.h"
#include "app/appstate.h"
#include "settings/inifile.h"
#include "shell/mainscreen.h"
#include "settings/programdir.h"
#include "app/uihelpers.h"
#include "support/scriptedprompter.h"

namespace telvane::shelltest {

inline QApplication* app() { return telvane::test::application(); }

struct OutgoingSeed {
    std::string subject;
    std::string recipient = "Recipient";
    std::string phone = "555-0100";
    bool sent = false;
    records::Date date{};
    std::string time;
};

struct IncomingSeed {
    std::string from;
    std::string faxFile;
    records::Date date{2026, 12, 8};
    std::string time = "10:15";
    std::string notes;
    int pages = 1;
};

inline IncomingSeed incoming(std::string from, std::string faxFile, records::Date date = {2026, 12, 8},
                             std::string time = "10:15", std::string notes = "") {
    IncomingSeed s;
    s.from = std::move(from);
    s.faxFile = std::move(faxFile);
    s.date = date;
    s.time = std::move(time);
    s.notes = std::move(notes);
    return s;
}

inline void seedOutgoing(const std::string& dir, const std::vector<OutgoingSeed>& rows) {
    records::RecordSet rs;
    records::TXbAccess xb(rs);
    ASSERT_TRUE(records::OpenFaxDBF(dir, rs, xb));
    for (const auto& r : rows) {
        rs.append();
        rs.fieldByName("SUBJECT").setString(r.subject);
        rs.fieldByName("RECIPIENT").setString(r.recipient);
        rs.fieldByName("PHONE").setString(r.phone);
        rs.fieldByName("SENT").setBoolean(r.sent);
        if (!r.date.isEmpty()) rs.fieldByName("DATESENT").setDate(r.date);
        rs.fieldByName("TIMESENT").setString(r.time);
        rs.fieldByName("PAGES").setInteger(1);
        rs.post();
    }
    rs.close();
}

inline void seedIncoming(const std::string& dir, const std::vector<IncomingSeed>& rows) {
    records::RecordSet rs;
    records::TXbAccess xb(rs);
    ASSERT_TRUE(records::OpenRecFaxDBF(dir, rs, xb));
    for (const auto& r : rows) {
        rs.append();
        rs.fieldByName("FROM").setString(r.from);
        rs.fieldByName("FAXFILE").setString(r.faxFile);
        rs.fieldByName("DATEREC").setDate(r.date);
        rs.fieldByName("TIMEREC").setString(r.time);
        rs.fieldByName("NOTES").setString(r.notes);
        rs.fieldByName("PAGES").setInteger(r.pages);
        rs.post();
    }
    rs.close();
}

using telvane::test::rebuildLogs;

// Runs action on the next modal dialog once it is shown (polled from the event loop).
inline void onNextModal(std::function<void(QWidget*)> action) {
    auto* timer = new QTimer;
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, action] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            timer->stop();
            timer->deleteLater();
            action(modal);
        }
    });
    timer->start();
}

class MainScreenTest : public ::testing::Test {
protected:
    void SetUp() override {
        app();
        ASSERT_TRUE(home.isValid());
        dir = telvane::test::useAsProgramDir(home);
        app::firstRunSetupPending() = false;
        commands = app::MainWindowCommands{};
        prompts = std::make_unique<ScopedScriptedPrompter>();
    }
    void TearDown() override {
        window.reset();
        prompts.reset();
        app::setMainWindow(nullptr);
    }

    // A settings file with a port, so the first-run set-up does not start.
    void writePortSetting() {
        settings::IniFile ini;
        ini.writeInteger("Modem", "ComPort", 0);
        ini.save(dir + "TVN.INI");
    }

    // Creates the window, shows it and lets the first activation finish.
    shell::TMainScreen& start() {
        window = std::make_unique<shell::TMainScreen>(commands);
        app::setMainWindow(window.get());
        window->show();
        for (int i = 0; i < 1000 && window->firstActivationPending() && window->isVisible(); ++i)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        return *window;
    }

    void stop() {
        if (window) window->close();
        window.reset();
    }

    ScriptedPrompter& prompter() { return prompts->get(); }

    QTemporaryDir home;
    std::string dir;
    std::unique_ptr<ScopedScriptedPrompter> prompts;
    // The commands the next start() hands to the window.
    app::MainWindowCommands commands;
    std::unique_ptr<shell::TMainScreen> window;
};

}  // namespace telvane::shelltest
