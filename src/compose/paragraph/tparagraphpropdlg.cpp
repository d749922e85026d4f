// TParagraphPropDlg (see tparagraphpropdlg.h).
#include "compose/paragraph/tparagraphpropdlg.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include "compose/richtext/trichtext.h"
#include "app/uihelpers.h"

namespace telvane::paragraph {
namespace {

constexpr int kSameAsLeft = 0;
constexpr int kIndentedBy = 1;

}  // namespace

TParagraphPropDlg::TParagraphPropDlg(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("TParagraphPropDlg"));
    setWindowTitle(QStringLiteral("Paragraph Properties"));
    setModal(true);

    auto makeEdit = [this](const char* name) {
        auto* e = new QLineEdit(this);
        e->setObjectName(QLatin1String(name));
        return e;
    };
    FirstIndentCombo = new QComboBox(this);
    FirstIndentCombo->setObjectName(QStringLiteral("FirstIndentCombo"));
    FirstIndentCombo->addItems({QStringLiteral("Same as Left Indent"), QStringLiteral("Indented by")});
    FirstIndentCombo->setToolTip(QStringLiteral("Specify special handling for first line indent"));
    FirstIndent = makeEdit("FirstIndent");
    LeftIndent = makeEdit("LeftIndent");
    RightIndent = makeEdit("RightIndent");
    ComboBox1 = new QComboBox(this);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    ComboBox1->addItems({QStringLiteral("Inch"), QStringLiteral("Cm")});
    ComboBox1->setToolTip(QStringLiteral("Change unit of measurement to inches or centimeters"));
    SpaceBeforePts = makeEdit("SpaceBeforePts");
    SpaceBeforePts->setToolTip(QStringLiteral("Specify spacing before paragraph in points (1 point=1/72 inch)"));
    SpaceAfterPts = makeEdit("SpaceAfterPts");
    SpaceAfterPts->setToolTip(QStringLiteral("Specify spacing after paragraph in points (1 point=1/72 inch)"));
    LineHeightPts = makeEdit("LineHeightPts");
    LineHeightPts->setToolTip(
        QStringLiteral("Specify spacing between lines of paragraph in points (1 point=1/72 inch)"));
    OKButton = new QPushButton(QStringLiteral("OK"), this);
    OKButton->setObjectName(QStringLiteral("OKButton"));
    OKButton->setDefault(true);
    CancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    CancelButton->setObjectName(QStringLiteral("CancelButton"));

    auto* grid = new QGridLayout;
    int row = 0;
    const auto addRow = [&](const QString& label, QWidget* field) {
        grid->addWidget(new QLabel(label, this), row, 1);
        grid->addWidget(field, row++, 2);
    };
    grid->addWidget(FirstIndentCombo, row, 0);
    addRow(QStringLiteral("First Indent"), FirstIndent);
    addRow(QStringLiteral("Left Indent"), LeftIndent);
    addRow(QStringLiteral("Right Indent"), RightIndent);
    addRow(QStringLiteral("Units"), ComboBox1);
    addRow(QStringLiteral("Space before (pts)"), SpaceBeforePts);
    addRow(QStringLiteral("Space after (pts)"), SpaceAfterPts);
    addRow(QStringLiteral("Line Height (pts)"), LineHeightPts);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(OKButton);
    buttons->addWidget(CancelButton);
    auto* main = new QVBoxLayout(this);
    main->addLayout(grid);
    main->addLayout(buttons);
    main->setSizeConstraint(QLayout::SetFixedSize);
    updateHints();

    for (int v = First; v < ValueCount; ++v) {
        QLineEdit* e = editFor(static_cast<Value>(v));
        connect(e, &QLineEdit::textChanged, this, [this, v] { readBack(static_cast<Value>(v)); });
        connect(e, &QLineEdit::editingFinished, this, [this, v] { reportIfInvalid(static_cast<Value>(v)); });
    }
    connect(FirstIndentCombo, &QComboBox::currentIndexChanged, this, &TParagraphPropDlg::firstIndentComboChange);
    connect(ComboBox1, &QComboBox::currentIndexChanged, this, &TParagraphPropDlg::comboBox1Change);
    connect(OKButton, &QPushButton::clicked, this, &TParagraphPropDlg::okButtonClick);
    connect(CancelButton, &QPushButton::clicked, this, &TParagraphPropDlg::reject);
}

QLineEdit* TParagraphPropDlg::editFor(Value v) const {
    switch (v) {
    case First: return FirstIndent;
    case Left: return LeftIndent;
    case Right: return RightIndent;
    case Before: return SpaceBeforePts;
    case After: return SpaceAfterPts;
    case LineHeight:
    case ValueCount: break;
    }
    return LineHeightPts;
}

paragraph::Unit TParagraphPropDlg::currentUnit() const {
    return ComboBox1->currentIndex() == 1 ? paragraph::Unit::Cm : paragraph::Unit::Inch;
}

void TParagraphPropDlg::showEvent(QShowEvent* event) {
    if (!read_) {
        readParagraph();
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            move(screen->availableGeometry().center() - rect().center());
        }
    }
    QDialog::showEvent(event);
}

void TParagraphPropDlg::readParagraph() {
    read_ = true;
    if (target_) {
        const richdoc::ParagraphMetrics m = target_->paragraph();
        values_ = {m.firstIndent, m.leftIndent, m.rightIndent, m.spaceBefore, m.spaceAfter, m.lineHeight};
    }
    {
        const QSignalBlocker units(ComboBox1);
        const QSignalBlocker first(FirstIndentCombo);
        ComboBox1->setCurrentIndex(0);
        FirstIndentCombo->setCurrentIndex(values_[First] != values_[Left] ? kIndentedBy : kSameAsLeft);
    }
    FirstIndent->setEnabled(FirstIndentCombo->currentIndex() == kIndentedBy);
    writeAll();
    updateHints();
}

void TParagraphPropDlg::writeEdit(Value v) {
    const QString text =
        isSpacing(v) ? paragraph::formatSpacing(values_[v]) : paragraph::formatIndent(values_[v], currentUnit());
    QLineEdit* e = editFor(v);
    if (e->text() == text) {
        readBack(v);  // no change signal; the stored value still follows the text
    } else {
        e->setText(text);
    }
}

void TParagraphPropDlg::writeAll() {
    for (int v = First; v < ValueCount; ++v) writeEdit(static_cast<Value>(v));
}

void TParagraphPropDlg::readBack(Value v) {
    const QString text = editFor(v)->text();
    const std::optional<int> twips =
        isSpacing(v) ? paragraph::parseSpacing(text) : paragraph::parseIndent(text, currentUnit());
    if (!twips) return;  // not a number: the value stays; reported when the edit is left
    values_[v] = *twips;
    if (v == Left && FirstIndentCombo->currentIndex() == kSameAsLeft && FirstIndent->text() != text) {
        FirstIndent->setText(text);
    }
}

void TParagraphPropDlg::reportIfInvalid(Value v) {
    const QString text = editFor(v)->text();
    const bool valid = isSpacing(v) ? paragraph::parseSpacing(text).has_value()
                                    : paragraph::parseIndent(text, currentUnit()).has_value();
    if (!valid) app::ShowInformation(QStringLiteral("'%1' is not a valid floating point value").arg(text));
}

void TParagraphPropDlg::updateHints() {
    const QString word = paragraph::unitWord(currentUnit());
    FirstIndent->setToolTip(QStringLiteral("Specify first line indent for the paragraph in ") + word);
    LeftIndent->setToolTip(QStringLiteral("Specify left indent for the paragraph in ") + word);
    RightIndent->setToolTip(QStringLiteral("Specify right indent for the paragraph in ") + word);
}

void TParagraphPropDlg::firstIndentComboChange() {
    const bool indented = FirstIndentCombo->currentIndex() == kIndentedBy;
    if (!indented) FirstIndent->setText(LeftIndent->text());
    FirstIndent->setEnabled(indented);
}

void TParagraphPropDlg::comboBox1Change() {
    writeAll();
    updateHints();
}

void TParagraphPropDlg::okButtonClick() {
    if (target_) {
        target_->setParagraphSpacing(values_[Before], values_[After], values_[LineHeight]);
        target_->setParagraphIndents(values_[First], values_[Left], values_[Right]);
    }
    done(1);
}

void TParagraphPropDlg::reject() { done(2); }

}  // namespace telvane::paragraph
