// Main window: start-up, activation and the orderly end.
#include "shell/mainscreen.h"

#include <QCloseEvent>
#include <QTimer>

#include "shell/appstate.h"
#include "shell/placement.h"
#include "shell/programdir.h"

namespace telvane {

TMainScreen::TMainScreen(QWidget* parent) : QMainWindow(parent) {
    setWindowTitle(QStringLiteral("Telvane "));
    resize(900, 560);
    FormCreate();
}

void TMainScreen::FormCreate() {
    m_firstActivationPending = true;
    AppSettings().loadFrom(ProgramDir());
}

void TMainScreen::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (m_firstActivationPending) QTimer::singleShot(0, this, [this] { FormActivate(); });
}

void TMainScreen::FormActivate() {
    if (!m_firstActivationPending) return;
    m_firstActivationPending = false;
}

void TMainScreen::closeEvent(QCloseEvent* event) {
    FormClose();
    event->accept();
}

void TMainScreen::FormClose() {
    SaveSettingsQuietly();
    try {
        SaveWindowPlacement(this, ProgramDir());
    } catch (const IniError&) {
    }
}

}  // namespace telvane
