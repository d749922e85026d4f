// Message boxes, centring, hourglass and event pumping shared by every window.
#include "app/uihelpers.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMenu>
#include <QMessageBox>
#include <QScreen>
#include <QWidget>
#include <QPointer>
#include <QPushButton>

namespace telvane {
namespace {

class MessageBoxPrompter : public Prompter {
public:
    void information(const QString& text) override {
        QMessageBox box(QMessageBox::Information, QStringLiteral("Information"), text, QMessageBox::Ok, mainWindow());
        box.exec();
    }
    bool yesNo(const QString& text, const QString& caption, bool defaultNo) override {
        QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No, mainWindow());
        box.setDefaultButton(defaultNo ? QMessageBox::No : QMessageBox::Yes);
        return box.exec() == QMessageBox::Yes;
    }
    void beep() override { QApplication::beep(); }
};

MessageBoxPrompter g_messageBoxPrompter;
Prompter* g_prompter = nullptr;
QPointer<QWidget> g_mainWindow;

// The platform texts use \r as a line break in places; Qt wants \n.
QString forDisplay(const QString& text) {
    QString s = cutPromptText(text);
    s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    s.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return s;
}

}  // namespace

void setPrompter(Prompter* p) { g_prompter = p; }
Prompter& prompter() { return g_prompter ? *g_prompter : g_messageBoxPrompter; }

QString cutPromptText(const QString& text) { return text.left(kMaxPromptLength); }

void ShowInformation(const QString& text) {
    Prompter& p = prompter();
    p.information(&p == &g_messageBoxPrompter ? forDisplay(text) : cutPromptText(text));
}

bool AskYesNo(const QString& text, const QString& caption) {
    Prompter& p = prompter();
    const bool display = &p == &g_messageBoxPrompter;
    return p.yesNo(display ? forDisplay(text) : cutPromptText(text), cutPromptText(caption), false);
}

bool AskYesNoDefaultNo(const QString& text, const QString& caption) {
    Prompter& p = prompter();
    const bool display = &p == &g_messageBoxPrompter;
    return p.yesNo(display ? forDisplay(text) : cutPromptText(text), cutPromptText(caption), true);
}

void Beep() { prompter().beep(); }

void setMainWindow(QWidget* w) { g_mainWindow = w; }
QWidget* mainWindow() { return g_mainWindow.data(); }

void CenterDialog(QWidget* dialog) {
    if (!dialog) return;
    QWidget* main = mainWindow();
    const QSize size = dialog->frameGeometry().size().isValid() ? dialog->frameGeometry().size() : dialog->sizeHint();
    QRect area;
    if (main && dialog != main && !main->isMaximized() && main->isVisible()) {
        area = main->frameGeometry();
    } else {
        QScreen* screen = main ? main->screen() : QGuiApplication::primaryScreen();
        area = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
    }
    dialog->move(area.left() + (area.width() - size.width()) / 2, area.top() + (area.height() - size.height()) / 2);
    if (dialog->windowFlags() & Qt::WindowMaximizeButtonHint)
        dialog->setWindowFlags(dialog->windowFlags() | Qt::WindowSystemMenuHint);
}

void PopupMenuUnder(QMenu* menu, QWidget* button) {
    if (menu && button) menu->popup(button->mapToGlobal(QPoint(0, button->height())));
}

QEvent::Type windowMessageType(int message) { return static_cast<QEvent::Type>(QEvent::User + message); }

void PostWindowMessage(QObject* window, int message) {
    if (window) QCoreApplication::postEvent(window, new QEvent(windowMessageType(message)));
}

QPushButton* MakePushButton(QWidget* parent, const char* name, const QString& caption, const QString& hint) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setToolTip(hint);
    button->setAutoDefault(false);
    return button;
}

void LetMessagesRun() { QCoreApplication::processEvents(); }

HourGlass::HourGlass() { QApplication::setOverrideCursor(Qt::WaitCursor); }
HourGlass::~HourGlass() { QApplication::restoreOverrideCursor(); }

}  // namespace telvane
