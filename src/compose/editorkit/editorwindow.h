// EditorWindow: what the fax editor and the cover-sheet template editor share as windows. A
// resizable dialog with minimize and maximize buttons that opens at the design size for its widest
// tool bar or where it was last closed (the placement is kept in the settings file), ends with 1
// (Accept) or 2 (Cancel, Escape), and counts how often its return-to-the-editor rule has run.
// Cancel, Escape and the close button ask "Save changes?" (Yes, No, Cancel) when the text fields
// or the rich-text parts changed since the window was shown, so typed text is never dropped
// without asking.
// Guarantees: a settings file that cannot be written never keeps the window from closing; the
// first-show work runs once, on the first show.
#pragma once

#include <QDialog>
#include <QLineEdit>
#include <QList>
#include <QPair>
#include <QPointer>

#include <string>

#include "compose/richtext/trichtext.h"

namespace telvane::editorkit {

// US Letter portrait with half-inch margins, in twips: the page both editors show.
inline constexpr richdoc::PageLayoutTwips kEditorPageLayout{12240, 15840, 720, 720, 720, 720};

class EditorWindow : public QDialog {
    Q_OBJECT
public:
    // How often the return-to-the-editor rule has run (first show included).
    int activations() const { return activations_; }
    // Whether a text field or a rich-text part changed since the window was first shown.
    bool hasChanges() const;

public slots:
    void done(int result) override;
    void reject() override;

protected:
    EditorWindow(std::string programDir, QWidget* parent);

    // Puts the window under the hint setting and gives it its design size for `widestBar`, then
    // the placement kept in the settings file. The last step of a constructor.
    void finishWindow(const QWidget* widestBar);
    // Runs once, when the window is first shown.
    virtual void firstShow() = 0;
    void countActivation() { ++activations_; }
    // What Accept does; the fax editor checks its fields first.
    virtual void acceptClick() { done(1); }
    // Takes the present contents as the unchanged state.
    void markUnchanged();
    const std::string& programDir() const { return programDir_; }

    void showEvent(QShowEvent* event) override;

private:
    std::string programDir_;
    bool shown_ = false;
    int activations_ = 0;
    QList<QPair<QPointer<QLineEdit>, QString>> fieldTexts_;
};

}  // namespace telvane::editorkit
