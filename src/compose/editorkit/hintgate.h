// Hints of the composing windows follow the program's "Show Hints" setting (Hints.On): while it is
// off, no hint pops up over any control of these windows; the hint texts themselves stay in place
// and show again as soon as the setting is back on.
#pragma once

class QWidget;

namespace telvane::editorkit {

// Puts the window and everything in it under the setting.
void followHintSetting(QWidget* window);

}  // namespace telvane::editorkit
