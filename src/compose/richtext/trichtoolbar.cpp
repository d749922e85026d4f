// TRichToolBar (see trichtoolbar.h).
#include "compose/richtext/trichtoolbar.h"

#include <QComboBox>
#include <QFontComboBox>
#include <QHBoxLayout>
#include <QSignalBlocker>
#include <QToolButton>

#include "compose/richtext/trichtext.h"

namespace telvane {
namespace {

constexpr int kFontSizes[] = {8, 9, 10, 11, 12, 14, 16, 18, 20, 22, 24, 26, 28, 36, 48, 72};

}  // namespace

TRichToolBar::TRichToolBar(QWidget* parent) : QWidget(parent) {
    layout_ = new QHBoxLayout(this);
    layout_->setContentsMargins(2, 2, 2, 2);
    layout_->setSpacing(1);

    FontName = new QFontComboBox(this);
    FontName->setObjectName(QStringLiteral("FontName"));
    FontName->setToolTip(QStringLiteral("Font name"));
    layout_->addWidget(FontName);
    FontSize = new QComboBox(this);
    FontSize->setObjectName(QStringLiteral("FontSize"));
    FontSize->setToolTip(QStringLiteral("Font size"));
    FontSize->setEditable(true);
    for (int size : kFontSizes) FontSize->addItem(QString::number(size));
    layout_->addWidget(FontSize);

    NormalButton = addButton(QStringLiteral("NormalButton"), QStringLiteral("N"), QStringLiteral("Normal"), false);
    BoldButton = addButton(QStringLiteral("BoldButton"), QStringLiteral("B"), QStringLiteral("Bold"), true);
    ItalicButton = addButton(QStringLiteral("ItalicButton"), QStringLiteral("I"), QStringLiteral("Italic"), true);
    UnderlineButton =
        addButton(QStringLiteral("UnderlineButton"), QStringLiteral("U"), QStringLiteral("Underline"), true);
    LeftButton = addButton(QStringLiteral("LeftButton"), QStringLiteral("|<"), QStringLiteral("Left"), true);
    RightButton = addButton(QStringLiteral("RightButton"), QStringLiteral(">|"), QStringLiteral("Right"), true);
    JustifyButton =
        addButton(QStringLiteral("JustifyButton"), QStringLiteral("|=|"), QStringLiteral("Justified"), true);
    CenterButton = addButton(QStringLiteral("CenterButton"), QStringLiteral("><"), QStringLiteral("Center"), true);
    CopyButton = addButton(QStringLiteral("CopyButton"), QStringLiteral("Copy"), QStringLiteral("Copy"), false);
    CutButton = addButton(QStringLiteral("CutButton"), QStringLiteral("Cut"), QStringLiteral("Cut"), false);
    PasteButton = addButton(QStringLiteral("PasteButton"), QStringLiteral("Paste"), QStringLiteral("Paste"), false);
    SpellCheckButton =
        addButton(QStringLiteral("SpellCheckButton"), QStringLiteral("ABC"), QStringLiteral("Spell check"), false);
    BoldButton->setStyleSheet(QStringLiteral("font-weight: bold"));
    ItalicButton->setStyleSheet(QStringLiteral("font-style: italic"));
    UnderlineButton->setStyleSheet(QStringLiteral("text-decoration: underline"));
    insertAt_ = layout_->count();
    layout_->addStretch(1);

    connect(NormalButton, &QToolButton::clicked, this,
            [this] { applyStyle(kStyleBold | kStyleItalic | kStyleUnderline, false); });
    connect(BoldButton, &QToolButton::clicked, this, [this](bool on) { applyStyle(kStyleBold, on); });
    connect(ItalicButton, &QToolButton::clicked, this, [this](bool on) { applyStyle(kStyleItalic, on); });
    connect(UnderlineButton, &QToolButton::clicked, this, [this](bool on) { applyStyle(kStyleUnderline, on); });
    const auto align = [this](Qt::Alignment a) {
        if (editor_) editor_->SetAlignment(a);
        showAttributes();
    };
    connect(LeftButton, &QToolButton::clicked, this, [align] { align(Qt::AlignLeft); });
    connect(RightButton, &QToolButton::clicked, this, [align] { align(Qt::AlignRight); });
    connect(JustifyButton, &QToolButton::clicked, this, [align] { align(Qt::AlignJustify); });
    connect(CenterButton, &QToolButton::clicked, this, [align] { align(Qt::AlignHCenter); });
    connect(CopyButton, &QToolButton::clicked, this, [this] {
        if (editor_) editor_->copy();
    });
    connect(CutButton, &QToolButton::clicked, this, [this] {
        if (editor_) editor_->cut();
    });
    connect(PasteButton, &QToolButton::clicked, this, [this] {
        if (editor_) editor_->paste();
    });
    connect(SpellCheckButton, &QToolButton::clicked, this, [this] {
        if (editor_) emit editor_->StartSpellCheck();
    });
    connect(FontName, &QFontComboBox::textActivated, this, &TRichToolBar::applyFontName);
    connect(FontSize, &QComboBox::textActivated, this, &TRichToolBar::applyFontSize);
}

QToolButton* TRichToolBar::addButton(const QString& name, const QString& text, const QString& hint, bool checkable) {
    auto* b = new QToolButton(this);
    b->setObjectName(name);
    b->setText(text);
    b->setToolTip(hint);
    b->setCheckable(checkable);
    b->setAutoRaise(true);
    b->setFocusPolicy(Qt::NoFocus);
    layout_->addWidget(b);
    return b;
}

void TRichToolBar::SetEditor(TRichText* editor) {
    for (const auto& c : editorConnections_) disconnect(c);
    editorConnections_.clear();
    editor_ = editor;
    if (editor_) {
        editorConnections_ << connect(editor_, &QTextEdit::currentCharFormatChanged, this,
                                      &TRichToolBar::showAttributes);
        editorConnections_ << connect(editor_, &QTextEdit::cursorPositionChanged, this, &TRichToolBar::showAttributes);
        editorConnections_ << connect(editor_, &QObject::destroyed, this, [this] { editor_ = nullptr; });
    }
    showAttributes();
}

void TRichToolBar::AddControl(QWidget* control) {
    control->setParent(this);
    layout_->insertWidget(insertAt_++, control);
}

void TRichToolBar::showAttributes() {
    if (!editor_) return;
    const TextAttributes a = editor_->CurrentAttributes();
    {
        const QSignalBlocker blockName(FontName);
        FontName->setCurrentFont(QFont(a.name));
        FontName->setEditText(a.name);
    }
    {
        const QSignalBlocker blockSize(FontSize);
        FontSize->setEditText(QString::number(a.size));
    }
    BoldButton->setChecked(a.style & kStyleBold);
    ItalicButton->setChecked(a.style & kStyleItalic);
    UnderlineButton->setChecked(a.style & kStyleUnderline);
    const Qt::Alignment align = editor_->textCursor().blockFormat().alignment() & Qt::AlignHorizontal_Mask;
    RightButton->setChecked(align & Qt::AlignRight);
    CenterButton->setChecked(align & Qt::AlignHCenter);
    JustifyButton->setChecked(align & Qt::AlignJustify);
    LeftButton->setChecked(!(align & (Qt::AlignRight | Qt::AlignHCenter | Qt::AlignJustify)));
}

void TRichToolBar::applyStyle(int bits, bool on) {
    if (!editor_) return;
    TextAttributes a = editor_->CurrentAttributes();
    a.style = on ? (a.style | bits) : (a.style & ~bits);
    editor_->SetInputAttributes(a);
    editor_->setFocus();
    showAttributes();
}

void TRichToolBar::applyFontName(const QString& name) {
    if (!editor_ || name.isEmpty()) return;
    TextAttributes a = editor_->CurrentAttributes();
    a.name = name;
    editor_->SetInputAttributes(a);
    editor_->setFocus();
}

void TRichToolBar::applyFontSize(const QString& size) {
    bool ok = false;
    const int points = size.trimmed().toInt(&ok);
    if (!editor_ || !ok || points <= 0) return;
    TextAttributes a = editor_->CurrentAttributes();
    a.size = points;
    editor_->SetInputAttributes(a);
    editor_->setFocus();
}

}  // namespace telvane
