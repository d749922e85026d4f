// Shared set-up of the receive-mode tests: the main window with the session commands, as the
// program makes it (with the viewer's commands), and the engine's events of a fax that arrived.
#pragma once

#include <memory>
#include <string>

#include <QString>

#include "sessions/receivemode.h"
#include "sessions/sessionhooks.h"
#include "sessions_fixture.h"
#include "shell/mainscreen.h"
#include "transport/fax/faxsession.h"
#include "viewprint/faxviewerwindow.h"

namespace telvane::sessiontest {

class ReceiveWindowTest : public SessionsTest {
protected:
    void SetUp() override {
        SessionsTest::SetUp();
        commands_ = app::MainWindowCommands{};
        sessions::addSessionCommands(commands_);
        viewprint::addViewerCommands(commands_);  // viewing a received fax while receive mode runs
        main_ = std::make_unique<shell::TMainScreen>(commands_);
        app::setMainWindow(main_.get());
        commands_.createWindows(*main_);
    }
    void TearDown() override {
        main_.reset();
        app::setMainWindow(nullptr);
        commands_ = app::MainWindowCommands{};
        SessionsTest::TearDown();
    }

    // The engine's events for a fax of `pages` pages received into receive/<name> from `from`.
    void receive(sessions::TReceiveMode& mode, const QString& name, const std::string& from, int pages) {
        ASSERT_TRUE(writeFax(qdir() + "receive/" + name, pages));
        mode.OvxReceiveFax1.SetFaxFile((qdir() + "receive/" + name).toStdString());
        mode.OvxReceiveFax1.setRemoteID(from);
        mode.OvxReceiveFax1.setPageInfo(pages, pages);
        mode.OvxReceiveFax1FaxLog(telvane::transport::lfaxReceiveStart);
        mode.OvxReceiveFax1FaxLog(telvane::transport::lfaxReceiveOk);
    }

    app::MainWindowCommands commands_;
    std::unique_ptr<shell::TMainScreen> main_;
};

}  // namespace telvane::sessiontest
