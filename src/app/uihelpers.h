// Shared window helpers: message boxes, dialog centring, the hourglass cursor and
// "let pending messages run". Every prompt of the program goes through one Prompter so that
// tests can install a scripted one (tests/support) that answers and records instead of showing a
// modal box.
#pragma once

#include <QEvent>
#include <QString>
#include <QStringList>

class QFont;
class QMenu;
class QMenuBar;
class QMessageBox;
class QObject;
class QPushButton;
class QWidget;

namespace telvane::app {

// Texts and captions of message boxes are cut to this many characters.
constexpr int kMaxPromptLength = 255;

class Prompter {
public:
    virtual ~Prompter() = default;
    virtual void information(const QString& text) = 0;
    // Answers true for Yes. defaultNo makes No the default button.
    virtual bool yesNo(const QString& text, const QString& caption, bool defaultNo) = 0;
    virtual void beep() = 0;
    // Yes, No or Cancel (Yes is the default): one of the Answer values.
    virtual int yesNoCancel(const QString& text, const QString& caption) {
        return yesNo(text, caption, false) ? AnswerYes : AnswerNo;
    }
    enum Answer { AnswerNo = 0, AnswerYes = 1, AnswerCancel = 2 };
};

// Installs the prompter used by the helpers below; nullptr restores the message-box one.
void setPrompter(Prompter* prompter);
Prompter& prompter();

// Information box, caption "Information", OK button.
void ShowInformation(const QString& text);
// Opens a window's menus from the keyboard as desktops do: F10, or Alt pressed and released on
// its own, opens the first menu of `bar` (mnemonics such as Alt+F work through the captions).
void enableKeyboardMenus(QMenuBar* bar);

// Question box with Yes and No; Yes is the default. True on Yes.
bool AskYesNo(const QString& text, const QString& caption);
// The same with No as the default (used before deleting).
bool AskYesNoDefaultNo(const QString& text, const QString& caption);
void soundBeep();
// Question box with Yes, No and Cancel (Yes is the default): a Prompter::Answer value.
int askYesNoCancel(const QString& text, const QString& caption);

// Cuts a prompt text or caption to kMaxPromptLength characters.
QString cutPromptText(const QString& text);

// The main window dialogs are centred over; set by the shell at start-up.
void setMainWindow(QWidget* mainWindow);

// The width a window needs for its whole title in the title bar (bold title, icon and buttons);
// message boxes keep at least this width (keepTitleWhole).
int titleRoomWidth(const QString& title, const QFont& font);
void keepTitleWhole(QMessageBox& box);

// The folder offered for files the user saves out of the program (exports, reports): the user's
// Documents folder when it exists, else the home folder; never the private data directory.
QString userFilesFolder();
QWidget* mainWindow();

// Centres a dialog over the main window when the main window is not maximized, else on the screen.
// A dialog that can be maximized also gets the system menu.
void centerDialog(QWidget* dialog);

// Opens a menu with its top-left corner at the button's bottom-left corner.
void popupMenuUnder(QMenu* menu, QWidget* button);

// Messages a window posts to itself, delivered through the event loop: 1066 asks the window to close,
// 1067 asks the main window to play the arrival sound. A posted message arrives as a QEvent whose
// type is windowMessageType(number).
constexpr int kCloseRequestMessage = 1066;
constexpr int kArrivalSoundMessage = 1067;
QEvent::Type windowMessageType(int message);
void postWindowMessage(QObject* window, int message);

// A push button with an object name, a caption and a hint, that is not made the default by focus.
QPushButton* makePushButton(QWidget* parent, const char* name, const QString& caption, const QString& hint);

// Lets pending window messages run (keeps the window responsive during long steps).
void letMessagesRun();

// Hourglass cursor for the lifetime of the object; the default cursor afterwards.
class HourGlass {
public:
    HourGlass();
    ~HourGlass();
    HourGlass(const HourGlass&) = delete;
    HourGlass& operator=(const HourGlass&) = delete;
};

}  // namespace telvane::app
