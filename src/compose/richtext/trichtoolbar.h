// TRichToolBar: the formatting bar above a TRichText: font-name and font-size lists (sizes from 8),
// the icons Normal, Bold, Italic, Underline, Left, Right, Justified, Center, Copy, Cut, Paste and
// Spell check, and room for further controls added after them. It follows the attributes at the
// editor's caret; the spell-check icon fires the editor's StartSpellCheck.
#pragma once

#include <QWidget>

class QComboBox;
class QFontComboBox;
class QHBoxLayout;
class QToolButton;

namespace telvane::richtext {

class TRichText;

class TRichToolBar : public QWidget {
    Q_OBJECT
public:
    explicit TRichToolBar(QWidget* parent = nullptr);

    void setEditor(TRichText* editor);
    TRichText* editor() const { return editor_; }
    // Appends a control after the bar's own icons (and after controls added before).
    void addControl(QWidget* control);

    QFontComboBox* FontName = nullptr;
    QComboBox* FontSize = nullptr;
    QToolButton* NormalButton = nullptr;
    QToolButton* BoldButton = nullptr;
    QToolButton* ItalicButton = nullptr;
    QToolButton* UnderlineButton = nullptr;
    QToolButton* LeftButton = nullptr;
    QToolButton* RightButton = nullptr;
    QToolButton* JustifyButton = nullptr;
    QToolButton* CenterButton = nullptr;
    QToolButton* CopyButton = nullptr;
    QToolButton* CutButton = nullptr;
    QToolButton* PasteButton = nullptr;
    QToolButton* SpellCheckButton = nullptr;

protected:
    // Ctrl+B, Ctrl+I and Ctrl+U in the editor toggle the style, as the buttons do.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The steps of the constructor, in the order the controls appear on the bar.
    void addFontBoxes();
    void addFormatButtons();
    void setButtonIcons();
    void connectControls();
    QToolButton* addButton(const QString& name, const QString& text, const QString& hint, bool checkable);
    void showAttributes();
    void applyStyle(int bits, bool on);
    void applyFontName(const QString& name);
    void applyFontSize(const QString& size);

    TRichText* editor_ = nullptr;
    QHBoxLayout* layout_ = nullptr;
    int insertAt_ = 0;
    QList<QMetaObject::Connection> editorConnections_;
};

}  // namespace telvane::richtext
