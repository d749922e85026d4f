// Message boxes, centring, hourglass and event pumping shared by every window.
#include "app/uihelpers.h"

#include <QApplication>
#include <QGuiApplication>
#include <QAction>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QGridLayout>
#include <QLayout>
#include <QMessageBox>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QScreen>
#include <QStyle>
#include <QWidget>
#include <QPointer>
#include <QPushButton>

#include <algorithm>

namespace telvane::app {

namespace {
void openFirstMenu(QMenuBar* bar) {
    for (QAction* a : bar->actions()) {
        if (a->isVisible() && a->isEnabled() && a->menu()) {
            bar->setActiveAction(a);
            return;
        }
    }
}

// Watches the keys of the menu bar's window for Alt pressed and released with nothing between.
class AltTapWatcher : public QObject {
public:
    explicit AltTapWatcher(QMenuBar* bar) : QObject(bar), bar_(bar) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        const QEvent::Type type = event->type();
        if (type == QEvent::MouseButtonPress || type == QEvent::FocusOut) {
            altAlone_ = false;
        } else if (type == QEvent::KeyPress || type == QEvent::KeyRelease) {
            auto* widget = qobject_cast<QWidget*>(watched);
            if (!widget || widget->window() != bar_->window()) return false;
            const auto* key = static_cast<QKeyEvent*>(event);
            const bool alt = key->key() == Qt::Key_Alt && (key->modifiers() & ~Qt::AltModifier) == Qt::NoModifier;
            if (type == QEvent::KeyPress) {
                if (!key->isAutoRepeat()) altAlone_ = alt;
            } else if (alt && altAlone_) {
                altAlone_ = false;
                if (!QApplication::activePopupWidget()) openFirstMenu(bar_);
            }
        }
        return false;
    }

private:
    QMenuBar* bar_;
    bool altAlone_ = false;
};
}  // namespace

void enableKeyboardMenus(QMenuBar* bar) {
    auto* f10 = new QAction(bar);
    f10->setObjectName(QStringLiteral("OpenMenusKey"));
    f10->setShortcut(QKeySequence(Qt::Key_F10));
    f10->setShortcutContext(Qt::WindowShortcut);
    QObject::connect(f10, &QAction::triggered, bar, [bar] { openFirstMenu(bar); });
    bar->window()->addAction(f10);
    // A style that opens menus on Alt itself keeps doing so; a second opening would close them.
    if (!bar->style()->styleHint(QStyle::SH_MenuBar_AltKeyNavigation, nullptr, bar))
        qApp->installEventFilter(new AltTapWatcher(bar));
}
int titleRoomWidth(const QString& title, const QFont& font) {
    // Window managers draw titles in a bold font beside an icon and three buttons.
    QFont bold = font;
    bold.setBold(true);
    constexpr int kTitleBarButtons = 140;
    return QFontMetrics(bold).horizontalAdvance(title) + kTitleBarButtons;
}

void keepTitleWhole(QMessageBox& box) {
    // A message box sizes itself to its text; a short text under a long title ("Save changes?"
    // under "Save Preferences") left the title cut short. The spacer is the only width a
    // message box's own layout keeps.
    auto* grid = qobject_cast<QGridLayout*>(box.layout());
    if (!grid) return;
    grid->addItem(
        new QSpacerItem(titleRoomWidth(box.windowTitle(), box.font()), 0, QSizePolicy::Minimum, QSizePolicy::Expanding),
        grid->rowCount(), 0, 1, grid->columnCount());
}

namespace {

class MessageBoxPrompter : public Prompter {
public:
    void information(const QString& text) override {
        QMessageBox box(QMessageBox::Information, QStringLiteral("Information"), text, QMessageBox::Ok, mainWindow());
        keepTitleWhole(box);
        box.exec();
    }
    bool yesNo(const QString& text, const QString& caption, bool defaultNo) override {
        QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No, mainWindow());
        box.setDefaultButton(defaultNo ? QMessageBox::No : QMessageBox::Yes);
        keepTitleWhole(box);
        return box.exec() == QMessageBox::Yes;
    }
    void beep() override { QApplication::beep(); }
    int yesNoCancel(const QString& text, const QString& caption) override {
        QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel,
                        QApplication::activeWindow());
        keepTitleWhole(box);
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

QString userFilesFolder() {
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (!documents.isEmpty() && QFileInfo(documents).isDir()) return documents;
    return QDir::homePath();
}
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

}  // namespace telvane::app
