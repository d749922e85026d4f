// SpellHighlighter and SpellAsYouType (see spellasyoutype.h).
#include "compose/spellcheck/spellasyoutype.h"

#include <QAction>
#include <QMenu>
#include <QTextBlock>
#include <QTextCursor>

#include "compose/richtext/trichtext.h"
#include "compose/spellcheck/spellservice.h"

namespace telvane::spellcheck {

namespace {

constexpr int kMenuSuggestions = 6;

// The word of the text under a document position, as (block position of start, length); length 0
// when there is none.
TextWord wordAt(const QTextBlock& block, int positionInBlock) {
    for (const TextWord& w : wordsOfText(block.text())) {
        if (positionInBlock >= w.start && positionInBlock <= w.start + w.length) return w;
    }
    return {};
}

}  // namespace

SpellHighlighter::SpellHighlighter(QTextDocument* document, SpellService& service)
    : QSyntaxHighlighter(document), service_(service) {}

void SpellHighlighter::highlightBlock(const QString& text) {
    QTextCharFormat mark;
    mark.setUnderlineStyle(QTextCharFormat::WaveUnderline);
    mark.setUnderlineColor(Qt::red);
    for (const TextWord& w : wordsOfText(text)) {
        QString word = text.mid(w.start, w.length);
        word.replace(QChar(0x2019), QLatin1Char('\''));
        if (!service_.isWord(word)) setFormat(w.start, w.length, mark);
    }
}

SpellAsYouType::SpellAsYouType(richtext::TRichText* part, const std::string& programDir)
    : QObject(part), part_(part), service_(SpellService::instance(programDir)) {
    setObjectName(QStringLiteral("SpellAsYouType"));
    part_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(part_, &QWidget::customContextMenuRequested, this, &SpellAsYouType::showMenu);
    connect(&service_, &SpellService::changed, this, &SpellAsYouType::follow);
    follow();
}

void SpellAsYouType::follow() {
    const bool on = SpellService::asYouType() && service_.available();
    if (on && !highlighter_) {
        highlighter_ = new SpellHighlighter(part_->document(), service_);
        highlighter_->rehighlight();
    } else if (!on && highlighter_) {
        delete highlighter_;  // removes its underlines
        highlighter_ = nullptr;
    } else if (highlighter_) {
        highlighter_->rehighlight();
    }
}

QMenu* SpellAsYouType::buildContextMenu(const QPoint& viewportPos) {
    QMenu* menu = part_->createStandardContextMenu();
    QAction* first = menu->actions().isEmpty() ? nullptr : menu->actions().first();
    const QTextCursor at = part_->cursorForPosition(viewportPos);
    const QTextBlock block = at.block();
    const TextWord w = wordAt(block, at.positionInBlock());
    QString word = block.text().mid(w.start, w.length);
    word.replace(QChar(0x2019), QLatin1Char('\''));
    if (highlighter_ && w.length > 0 && !service_.isWord(word)) {
        const int start = block.position() + w.start;
        const int end = start + w.length;
        const QStringList suggestions = service_.suggest(word).mid(0, kMenuSuggestions);
        for (const QString& s : suggestions) {
            QAction* a = new QAction(s, menu);
            QFont bold = a->font();
            bold.setBold(true);
            a->setFont(bold);
            connect(a, &QAction::triggered, part_, [part = part_, start, end, s] {
                QTextCursor c(part->document());
                c.setPosition(start + 1);
                const QTextCharFormat format = c.charFormat();  // keep the word's own formatting
                c.setPosition(start);
                c.setPosition(end, QTextCursor::KeepAnchor);
                c.insertText(s, format);  // one undo step
            });
            menu->insertAction(first, a);
        }
        if (suggestions.isEmpty()) {
            QAction* none = new QAction(QStringLiteral("(no suggestions)"), menu);
            none->setEnabled(false);
            menu->insertAction(first, none);
        }
        QAction* add = new QAction(QStringLiteral("Add Word"), menu);
        add->setObjectName(QStringLiteral("SpellAddWord"));
        add->setEnabled(service_.canAdd());
        connect(add, &QAction::triggered, this, [this, word] { service_.addWord(word); });
        menu->insertAction(first, add);
        QAction* ignore = new QAction(QStringLiteral("Ignore"), menu);
        ignore->setObjectName(QStringLiteral("SpellIgnore"));
        connect(ignore, &QAction::triggered, this, [this, word] { service_.ignore(word); });
        menu->insertAction(first, ignore);
        menu->insertSeparator(first);
    }
    menu->addSeparator();
    QAction* toggle = menu->addAction(QStringLiteral("Check Spelling as You Type"));
    toggle->setObjectName(QStringLiteral("SpellAsYouTypeToggle"));
    toggle->setCheckable(true);
    toggle->setChecked(SpellService::asYouType());
    toggle->setEnabled(service_.available());
    connect(toggle, &QAction::toggled, this, [](bool on) { SpellService::setAsYouType(on); });
    return menu;
}

void SpellAsYouType::showMenu(const QPoint& viewportPos) {
    QMenu* menu = buildContextMenu(viewportPos);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(part_->viewport()->mapToGlobal(viewportPos));
}

}  // namespace telvane::spellcheck
