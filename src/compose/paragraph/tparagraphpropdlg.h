// TParagraphPropDlg: the modal "Paragraph Properties" dialog. It shows the indents (inches or
// centimetres) and spacing (points) of the paragraph at the caret of one TRichText, keeps the six
// values in twips exactly as the displayed texts read back, and applies them on OK: spacing first,
// then indents. Cancel applies nothing. Result: 1 for OK, 2 for Cancel.
#pragma once

#include <QDialog>
#include <array>

#include "compose/paragraph/paragraphunits.h"

class QComboBox;
class QLineEdit;
class QPushButton;

namespace telvane::richtext {
class TRichText;
}  // namespace telvane::richtext

namespace telvane::paragraph {

class TParagraphPropDlg : public QDialog {
    Q_OBJECT
public:
    enum Value { First, Left, Right, Before, After, LineHeight, ValueCount };

    explicit TParagraphPropDlg(QWidget* parent = nullptr);

    void setRichText(richtext::TRichText* target) { target_ = target; }
    // Reads the paragraph at the target's caret and fills the edits (done when the dialog is shown).
    void readParagraph();
    int storedValue(Value v) const { return values_[v]; }
    paragraph::Unit currentUnit() const;

    QComboBox* FirstIndentCombo = nullptr;
    QLineEdit* FirstIndent = nullptr;
    QLineEdit* LeftIndent = nullptr;
    QLineEdit* RightIndent = nullptr;
    QComboBox* ComboBox1 = nullptr;
    QLineEdit* SpaceBeforePts = nullptr;
    QLineEdit* SpaceAfterPts = nullptr;
    QLineEdit* LineHeightPts = nullptr;
    QPushButton* OKButton = nullptr;
    QPushButton* CancelButton = nullptr;

public slots:
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    QLineEdit* editFor(Value v) const;
    bool isSpacing(Value v) const { return v >= Before; }
    void writeEdit(Value v);
    void writeAll();
    void readBack(Value v);
    void reportIfInvalid(Value v);
    void updateHints();
    void firstIndentComboChange();
    void comboBox1Change();
    void okButtonClick();

    richtext::TRichText* target_ = nullptr;
    std::array<int, ValueCount> values_{};
    bool read_ = false;
};

}  // namespace telvane::paragraph
