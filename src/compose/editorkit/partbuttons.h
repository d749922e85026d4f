// The buttons both editors add to a rich-text part's tool bar, after the bar's own icons and with a
// 2-pixel spacer before each: page break (asks first, No is the default), paragraph properties,
// word wrap (down while wrap is on; its hint names what a click does) and default font.
#pragma once

#include <QString>

#include <functional>
#include <string>

class QToolButton;
class QWidget;

namespace telvane::richtext {
class TRichText;
class TRichToolBar;
}  // namespace telvane::richtext

namespace telvane::editorkit {

struct PartButtonNames {
    const char* pageBreak;
    const char* paragraph;
    const char* wordWrap;
    const char* defaultFont;
};

struct PartButtons {
    QToolButton* pageBreak = nullptr;
    QToolButton* paragraph = nullptr;
    QToolButton* wordWrap = nullptr;
    QToolButton* defaultFont = nullptr;
};

inline const QString kWrapOnHint = QStringLiteral("Toggle word wrap on");
inline const QString kWrapOffHint = QStringLiteral("Toggle word wrap off");

// Lets the bar's font-name list shrink to ten characters, which keeps the bar with the added
// buttons narrow enough for most screens.
void compactFontList(richtext::TRichToolBar* bar);

// Adds a 2-pixel spacer and then the control to the bar.
void addToToolBar(richtext::TRichToolBar* bar, QWidget* control);

// Adds the four buttons for one part. afterOwnWindow runs when the paragraph dialog has closed
// (the window's return-to-the-editor rule).
PartButtons addPartButtons(richtext::TRichToolBar* bar, richtext::TRichText* part, const PartButtonNames& names,
                           const std::string& programDir, const std::function<void()>& afterOwnWindow);

// The handlers, shared by both editors.
void pageBreakClick(richtext::TRichText& part);
void paragraphClick(richtext::TRichText& part, QWidget* owner);
void wordWrapClick(richtext::TRichText& part, QToolButton& button);
// Shows a part's wrap state on its button: down and "off" hint while wrap is on.
void showWordWrap(const richtext::TRichText& part, QToolButton& button);

}  // namespace telvane::editorkit
