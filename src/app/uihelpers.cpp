// Message boxes, centring, hourglass and event pumping shared by every window.
#include "app/uihelpers.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMenu>
#include <QLayout>
#include <QMessageBox>
#include <QScreen>
#include <QStyle>
#include <QWidget>
#include <QPointer>
#include <QPushButton>

#include <algorithm>

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
    int yesNoCancel(const QString& text, const QString& caption) override {
        QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel,
                        QApplication::activeWindow());
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::Cancel);
        switch (box.exec()) {
        case QMessageBox::Yes: return AnswerYes;
        case QMessageBox::No: return AnswerNo;
        default: return AnswerCancel;
        }
    }
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

void soundBeep() { prompter().beep(); }

int askYesNoCancel(const QString& text, const QString& caption) {
    Prompter& p = prompter();
    const bool display = &p == &g_messageBoxPrompter;
    return p.yesNoCancel(display ? forDisplay(text) : cutPromptText(text), cutPromptText(caption));
}

void setMainWindow(QWidget* w) { g_mainWindow = w; }
QWidget* mainWindow() { return g_mainWindow.data(); }

namespace {

// Where a dialog of `size` goes: centred over the main window (or its screen), then kept inside
// the available area of that screen.
QPoint centredPosition(const QWidget* dialog, QSize size) {
    QWidget* main = mainWindow();
    QScreen* screen = main ? main->screen() : dialog->screen();
    if (!screen) screen = QGuiApplication::primaryScreen();
    const QRect avail = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
    const QRect area =
        main && dialog != main && !main->isMaximized() && main->isVisible() ? main->frameGeometry() : avail;
    QPoint at(area.left() + (area.width() - size.width()) / 2, area.top() + (area.height() - size.height()) / 2);
    at.setX(std::max(avail.left(), std::min(at.x(), avail.right() + 1 - size.width())));
    at.setY(std::max(avail.top(), std::min(at.y(), avail.bottom() + 1 - size.height())));
    return at;
}

// The size a dialog will have: its real size once shown, else the size its layout asks for
// (unless it was sized explicitly).
QSize dialogSize(QWidget* dialog) {
    if (dialog->isVisible()) return dialog->frameGeometry().size();
    if (dialog->testAttribute(Qt::WA_Resized)) return dialog->size();
    dialog->ensurePolished();
    if (dialog->layout()) dialog->layout()->activate();
    return dialog->sizeHint().expandedTo(dialog->minimumSizeHint()).expandedTo(dialog->minimumSize());
}

// Centres the dialog again when it is shown, with the size its layout has given it by then.
class CentreOnShow : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show) {
            auto* dialog = static_cast<QWidget*>(watched);
            dialog->move(centredPosition(dialog, dialog->frameGeometry().size()));
            deleteLater();
            dialog->removeEventFilter(this);
        }
        return false;
    }
};

}  // namespace

void centerDialog(QWidget* dialog) {
    if (!dialog) return;
    // A dialog larger than its screen is made to fit it, as far as its minimum size allows, so
    // that its title bar and bottom buttons can be reached.
    QWidget* main = mainWindow();
    QScreen* screen = main ? main->screen() : dialog->screen();
    if (!screen) screen = QGuiApplication::primaryScreen();
    if (screen) {
        QSize frame = dialog->frameGeometry().size() - dialog->geometry().size();
        // Before the first show the frame is unknown: allow for a border and a title bar.
        if (frame.isNull() && !dialog->isVisible() && !(dialog->windowFlags() & Qt::FramelessWindowHint)) {
            const int border = dialog->style()->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth, nullptr, dialog);
            frame = QSize(2 * border,
                          dialog->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, dialog) + 2 * border);
        }
        const QSize room = screen->availableGeometry().size() - frame;
        const QSize wanted = dialogSize(dialog) - (dialog->isVisible() ? frame : QSize());
        if (wanted.width() > room.width() || wanted.height() > room.height())
            dialog->resize(wanted.boundedTo(room).expandedTo(dialog->minimumSize()));
    }
    dialog->move(centredPosition(dialog, dialogSize(dialog)));
    if (!dialog->isVisible() && !dialog->findChild<CentreOnShow*>(QString(), Qt::FindDirectChildrenOnly))
        dialog->installEventFilter(new CentreOnShow(dialog));
    if (dialog->windowFlags() & Qt::WindowMaximizeButtonHint)
        dialog->setWindowFlags(dialog->windowFlags() | Qt::WindowSystemMenuHint);
}

void popupMenuUnder(QMenu* menu, QWidget* button) {
    if (menu && button) menu->popup(button->mapToGlobal(QPoint(0, button->height())));
}

QEvent::Type windowMessageType(int message) { return static_cast<QEvent::Type>(QEvent::User + message); }

void postWindowMessage(QObject* window, int message) {
    if (window) QCoreApplication::postEvent(window, new QEvent(windowMessageType(message)));
}

QPushButton* makePushButton(QWidget* parent, const char* name, const QString& caption, const QString& hint) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setToolTip(hint);
    button->setAutoDefault(false);
    return button;
}

void letMessagesRun() { QCoreApplication::processEvents(); }

HourGlass::HourGlass() { QApplication::setOverrideCursor(Qt::WaitCursor); }
HourGlass::~HourGlass() { QApplication::restoreOverrideCursor(); }

}  // namespace telvane
