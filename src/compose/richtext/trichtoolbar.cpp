// TRichToolBar (see trichtoolbar.h).
#include "compose/richtext/trichtoolbar.h"

#include <QComboBox>
#include <QFontComboBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QSignalBlocker>
#include <QToolButton>

#include <algorithm>
#include <utility>

#include "compose/richtext/trichtext.h"

namespace telvane::richtext {
namespace {

constexpr int kFontSizes[] = {8, 9, 10, 11, 12, 14, 16, 18, 20, 22, 24, 26, 28, 36, 48, 72};

// Pictures for the format buttons when the desktop theme has none.
enum class Glyph { Normal, Bold, Italic, Underline, Left, Right, Justify, Center, Copy, Cut, Paste, Spell };

QPixmap drawGlyph(Glyph glyph, int size, const QColor& ink) {
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size / 16.0;
    QPen pen(ink, std::max(1.0, 1.4 * s));
    pen.setCapStyle(Qt::FlatCap);
    p.setPen(pen);
    const auto letter = [&](const QString& text, bool bold, bool italic, bool underline, qreal points) {
        QFont f(QStringLiteral("Sans Serif"));
        f.setPixelSize(int(points * s));
        f.setBold(bold);
        f.setItalic(italic);
        f.setUnderline(underline);
        p.setFont(f);
        p.drawText(QRectF(0, 0, size, size), Qt::AlignCenter, text);
    };
    // Four text lines: start and length of each, in sixteenths of the picture.
    const auto lines = [&](const qreal(&x)[4][2]) {
        for (int i = 0; i < 4; ++i) {
            const qreal y = (3 + i * 3.3) * s;
            p.drawLine(QPointF(x[i][0] * s, y), QPointF((x[i][0] + x[i][1]) * s, y));
        }
    };
    switch (glyph) {
    case Glyph::Normal: letter(QStringLiteral("A"), false, false, false, 13); break;
    case Glyph::Bold: letter(QStringLiteral("B"), true, false, false, 14); break;
    case Glyph::Italic: letter(QStringLiteral("I"), false, true, false, 14); break;
    case Glyph::Underline: letter(QStringLiteral("U"), false, false, true, 13); break;
    case Glyph::Left: lines({{1, 14}, {1, 9}, {1, 14}, {1, 7}}); break;
    case Glyph::Right: lines({{1, 14}, {6, 9}, {1, 14}, {8, 7}}); break;
    case Glyph::Center: lines({{1, 14}, {3.5, 9}, {1, 14}, {4.5, 7}}); break;
    case Glyph::Justify: lines({{1, 14}, {1, 14}, {1, 14}, {1, 9}}); break;
    case Glyph::Copy:
        p.drawRect(QRectF(1.5 * s, 1.5 * s, 8 * s, 9.5 * s));
        p.setBrush(QColor(Qt::white));
        p.drawRect(QRectF(6 * s, 5 * s, 8 * s, 9.5 * s));
        break;
    case Glyph::Cut:
        p.drawLine(QPointF(4 * s, 1 * s), QPointF(11 * s, 10 * s));
        p.drawLine(QPointF(12 * s, 1 * s), QPointF(5 * s, 10 * s));
        p.drawEllipse(QPointF(4 * s, 12.5 * s), 2.3 * s, 2.3 * s);
        p.drawEllipse(QPointF(12 * s, 12.5 * s), 2.3 * s, 2.3 * s);
        break;
    case Glyph::Paste:
        p.drawRect(QRectF(2 * s, 2.5 * s, 10 * s, 12 * s));
        p.fillRect(QRectF(5 * s, 1 * s, 4 * s, 3 * s), ink);
        p.setBrush(QColor(Qt::white));
        p.drawRect(QRectF(7 * s, 7 * s, 7.5 * s, 8 * s));
        break;
    case Glyph::Spell: {
        QFont f(QStringLiteral("Sans Serif"));
        f.setPixelSize(int(7 * s));
        f.setBold(true);
        p.setFont(f);
        p.drawText(QRectF(0, 0, size, 8 * s), Qt::AlignCenter, QStringLiteral("abc"));
        QPainterPath tick;
        tick.moveTo(3 * s, 11 * s);
        tick.lineTo(6.5 * s, 14.5 * s);
        tick.lineTo(13.5 * s, 8.5 * s);
        p.setPen(QPen(QColor(0, 120, 0), 2 * s));
        p.drawPath(tick);
        break;
    }
    }
    return pm;
}

// The desktop theme's standard icon, else our own picture.
QIcon formatIcon(const char* themeName, Glyph glyph, const QColor& ink) {
    QIcon drawn;
    for (int size : {16, 22, 32}) drawn.addPixmap(drawGlyph(glyph, size, ink));
    return QIcon::fromTheme(QLatin1String(themeName), drawn);
}

}  // namespace

TRichToolBar::TRichToolBar(QWidget* parent) : QWidget(parent) {
    layout_ = new QHBoxLayout(this);
    layout_->setContentsMargins(2, 2, 2, 2);
    layout_->setSpacing(1);

    addFontBoxes();
    addFormatButtons();
    setButtonIcons();
    insertAt_ = layout_->count();
    layout_->addStretch(1);

    connectControls();
}

void TRichToolBar::addFontBoxes() {
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
}

void TRichToolBar::addFormatButtons() {
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
        addButton(QStringLiteral("SpellCheckButton"), QStringLiteral("ABC"), QStringLiteral("Spell check (F7)"), false);
}

void TRichToolBar::setButtonIcons() {
    const QColor ink = palette().color(QPalette::WindowText);
    const std::pair<QToolButton*, std::pair<const char*, Glyph>> icons[] = {
        {NormalButton, {"format-text-clear", Glyph::Normal}},
        {BoldButton, {"format-text-bold", Glyph::Bold}},
        {ItalicButton, {"format-text-italic", Glyph::Italic}},
        {UnderlineButton, {"format-text-underline", Glyph::Underline}},
        {LeftButton, {"format-justify-left", Glyph::Left}},
        {RightButton, {"format-justify-right", Glyph::Right}},
        {JustifyButton, {"format-justify-fill", Glyph::Justify}},
        {CenterButton, {"format-justify-center", Glyph::Center}},
        {CopyButton, {"edit-copy", Glyph::Copy}},
        {CutButton, {"edit-cut", Glyph::Cut}},
        {PasteButton, {"edit-paste", Glyph::Paste}},
        {SpellCheckButton, {"tools-check-spelling", Glyph::Spell}},
    };
    for (const auto& [button, icon] : icons) {
        button->setIcon(formatIcon(icon.first, icon.second, ink));
        button->setToolButtonStyle(Qt::ToolButtonIconOnly);
    }
}

void TRichToolBar::connectControls() {
    connect(NormalButton, &QToolButton::clicked, this,
            [this] { applyStyle(kStyleBold | kStyleItalic | kStyleUnderline, false); });
    connect(BoldButton, &QToolButton::clicked, this, [this](bool on) { applyStyle(kStyleBold, on); });
    connect(ItalicButton, &QToolButton::clicked, this, [this](bool on) { applyStyle(kStyleItalic, on); });
    connect(UnderlineButton, &QToolButton::clicked, this, [this](bool on) { applyStyle(kStyleUnderline, on); });
    const auto align = [this](Qt::Alignment a) {
        if (editor_) editor_->setParagraphAlignment(a);
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

void TRichToolBar::setEditor(TRichText* editor) {
    if (editor_) editor_->removeEventFilter(this);
    for (const auto& c : editorConnections_) disconnect(c);
    editorConnections_.clear();
    editor_ = editor;
    if (editor_) {
        editorConnections_ << connect(editor_, &QTextEdit::currentCharFormatChanged, this,
                                      &TRichToolBar::showAttributes);
        editorConnections_ << connect(editor_, &QTextEdit::cursorPositionChanged, this, &TRichToolBar::showAttributes);
        editorConnections_ << connect(editor_, &QObject::destroyed, this, [this] { editor_ = nullptr; });
        editor_->installEventFilter(this);
    }
    showAttributes();
}

void TRichToolBar::addControl(QWidget* control) {
    control->setParent(this);
    layout_->insertWidget(insertAt_++, control);
}

void TRichToolBar::showAttributes() {
    if (!editor_) return;
    const TextAttributes a = editor_->currentAttributes();
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

bool TRichToolBar::eventFilter(QObject* watched, QEvent* event) {
    if (watched == editor_ && editor_ && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        int bit = 0;
        if (key->matches(QKeySequence::Bold))
            bit = kStyleBold;
        else if (key->matches(QKeySequence::Italic))
            bit = kStyleItalic;
        else if (key->matches(QKeySequence::Underline))
            bit = kStyleUnderline;
        if (bit != 0) {
            applyStyle(bit, !(editor_->currentAttributes().style & bit));
            return true;
        }
        // The buttons take no focus: F7, as in word processors, starts the spell check from the text.
        if (key->key() == Qt::Key_F7 && key->modifiers() == Qt::NoModifier) {
            emit editor_->StartSpellCheck();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TRichToolBar::applyStyle(int bits, bool on) {
    if (!editor_) return;
    TextAttributes a = editor_->currentAttributes();
    a.style = on ? (a.style | bits) : (a.style & ~bits);
    editor_->setInputAttributes(a);
    editor_->setFocus();
    showAttributes();
}

void TRichToolBar::applyFontName(const QString& name) {
    if (!editor_ || name.isEmpty()) return;
    TextAttributes a = editor_->currentAttributes();
    a.name = name;
    editor_->setInputAttributes(a);
    editor_->setFocus();
}

void TRichToolBar::applyFontSize(const QString& size) {
    bool ok = false;
    const int points = size.trimmed().toInt(&ok);
    if (!editor_ || !ok || points <= 0) return;
    TextAttributes a = editor_->currentAttributes();
    a.size = points;
    editor_->setInputAttributes(a);
    editor_->setFocus();
}

}  // namespace telvane::richtext
