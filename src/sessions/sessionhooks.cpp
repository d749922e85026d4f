// The main window's session hooks (see sessionhooks.h).
#include "sessions/sessionhooks.h"

#include "compose/render/faxfilerenderer.h"
#include "dispatcher.h"
#include "sessions/desktoppresence.h"
#include "sessions/modemsetup.h"
#include "sessions/receivemode.h"
#include "sessions/sendfax.h"
#include "shell/mainscreen.h"
#include "shell/programdir.h"
#include "shell/uihelpers.h"

#include <QWidget>

namespace telvane {

void installSessionHooks() {
    telvane::transport::SetEventPump([] { LetMessagesRun(); });
    MainScreenHooks& hooks = mainScreenHooks();
    hooks.sendFax = [](TMainScreen& main) { sessions::SendFaxCommand(main); };
    hooks.toggleReceiveMode = [](TMainScreen& main) { sessions::TReceiveMode::of(main).ReceiveButtonClick(); };
    hooks.quickSetup = [](TMainScreen& main) { sessions::RunQuickSetup(&main); };
    if (!hooks.createFaxFile) {
        hooks.createFaxFile = [](TMainScreen& main) -> QString {
            render::FaxFileRenderer renderer;
            renderer.SetStatus = [&main](const QString& text) { main.SetStatus(text); };
            renderer.EnableButtonBar = [&main](bool on) { main.ButtonBar()->setEnabled(on); };
            const render::FaxFileResult result =
                renderer.CreateFaxFile(ProgramDir(), render::PartsFromRecord(main.FaxXb(), ProgramDir()));
            main.setRenderedPageCount(result.pageCount);
            return QString::fromStdString(result.fileName);
        };
    }
}

void createSessionWindows(TMainScreen& main) {
    sessions::TReceiveMode& receive = sessions::TReceiveMode::of(main);
    new sessions::TDesktopPresence(main, receive);  // notifications and tray icon; owned by receive mode
}

}  // namespace telvane
