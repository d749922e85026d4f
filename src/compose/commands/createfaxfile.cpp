// The main window's CreateFaxFile (see createfaxfile.h).
#include "compose/commands/createfaxfile.h"

#include "settings/programdir.h"
#include "app/uihelpers.h"

#include <QApplication>
#include <string_view>

namespace telvane::composecommands {

// Hourglass, disabled button bar and status text for the operation; taken when the render core
// starts loading, undone once, at the latest when the operation is left.
class FaxFileRenderer::UiLock {
public:
    explicit UiLock(FaxFileRenderer& r) : r_(r) {}
    ~UiLock() { release(); }
    UiLock(const UiLock&) = delete;
    UiLock& operator=(const UiLock&) = delete;

    void take() {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        taken_ = true;
        if (r_.ButtonBarSwitch) r_.ButtonBarSwitch(false);
    }
    void release() {
        if (!taken_) return;
        taken_ = false;
        QApplication::restoreOverrideCursor();
        if (r_.ButtonBarSwitch) r_.ButtonBarSwitch(true);
        if (r_.StatusSink) r_.StatusSink(QString());
    }

private:
    FaxFileRenderer& r_;
    bool taken_ = false;
};

FaxFileRenderer::FaxFileRenderer() {
    core_.OnYield = [] { app::letMessagesRun(); };
}

render::FaxFileResult FaxFileRenderer::CreateFaxFile(const std::string& dataDir, const render::FaxPartsLoader& load,
                                                     const std::vector<render::FaxDocument>& documents) {
    if (core_.busy()) return core_.CreateFaxFile(dataDir, load, documents);
    UiLock ui(*this);
    core_.OnPhase = [this, &ui](const char* status) {
        if (std::string_view(status) == render::kStatusLoading) ui.take();
        if (StatusSink) StatusSink(QString::fromLatin1(status));
    };
    const render::FaxFileResult result = core_.CreateFaxFile(dataDir, load, documents);
    core_.OnPhase = nullptr;
    if (result.empty) {
        ui.release();
        app::ShowInformation(QString::fromLatin1(render::kNoContentsMessage));
    } else if (result.unreadableDocument) {
        // An attached document that cannot be converted: named before anything is sent.
        ui.release();
        app::ShowInformation(result.errorText);
    }
    return result;
}

app::RenderedFax createFaxFileOf(app::IMainWindow& main) {
    FaxFileRenderer renderer;
    renderer.StatusSink = [&main](const QString& text) { main.setStatus(text); };
    renderer.ButtonBarSwitch = [&main](bool on) { main.enableButtonBar(on); };
    const render::FaxFileResult result =
        renderer.CreateFaxFile(settings::ProgramDir(), render::partsFromRecord(main.FaxXb(), settings::ProgramDir()),
                               render::documentsFromRecord(main.FaxXb(), settings::ProgramDir()));
    return app::RenderedFax{QString::fromStdString(result.fileName), result.pageCount, result.empty,
                            result.empty || result.unreadableDocument};
}

}  // namespace telvane::composecommands
