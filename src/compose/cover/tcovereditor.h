// TCoverEditor: the "Cover Sheet Template Editor". One rich-text part (RichCover) with its tool bar
// and the added page-break, paragraph, word-wrap and default-font buttons, and a bottom panel with
// the description, the "&Insert" menu of the five merge fields, the zoom button, "&Accept" (result
// 1) and "Cance&l" (result 2). Showing it sets US Letter portrait with 720-twip margins; each time
// it becomes the active window again after one of its own windows, the text is re-laid-out and
// caret and view go to the start. Its placement is kept in the settings file.
#pragma once

#include <string>

#include "compose/editorkit/editorwindow.h"
#include "compose/editorkit/partbuttons.h"

class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;

namespace telvane::editorkit {
class TZoomButton;
}  // namespace telvane::editorkit

namespace telvane::richtext {
class TRichText;
class TRichToolBar;
}  // namespace telvane::richtext

namespace telvane::cover {

class TCoverEditor : public editorkit::EditorWindow {
    Q_OBJECT
public:
    static constexpr int kDescriptionLength = 35;

    explicit TCoverEditor(std::string programDir, QWidget* parent = nullptr);
    ~TCoverEditor() override;

    // Inserts the merge field of an insert-menu caption at the caret; false for an unknown caption.
    bool insertItemClick(const QString& caption);
    void insertButtonClick();
    // The tool bar's spell-check icon: the "Spell Check" dialog on RichCover.
    void richStartSpellCheck();
    void FormActivate();

    richtext::TRichToolBar* RichToolCover = nullptr;
    richtext::TRichText* RichCover = nullptr;
    editorkit::PartButtons Buttons;
    QLabel* DescriptionLabel = nullptr;
    QLineEdit* CoverDescription = nullptr;
    QPushButton* HelpButton = nullptr;
    QPushButton* InsertButton = nullptr;
    QMenu* InsertMenu = nullptr;
    editorkit::TZoomButton* Zoombutton = nullptr;
    QPushButton* AcceptButton = nullptr;
    QPushButton* CancelButton = nullptr;

protected:
    void firstShow() override;
};

}  // namespace telvane::cover
