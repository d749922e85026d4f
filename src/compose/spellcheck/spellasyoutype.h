// Checking as you type: unknown words of a rich-text part get a red wavy underline, drawn by a
// syntax highlighter on the layout only (the text and its RTF stay untouched). Only the paragraphs
// that change are checked again, and each word's answer is cached by the shared SpellService, so
// typing stays quick in long documents. The part's context menu offers, over a marked word, the
// engine's suggestions, "Add Word" and "Ignore", and always the switch "Check Spelling as You Type"
// (the setting Other.SpellCheckAsYouType).
#pragma once

#include <QObject>
#include <QPoint>
#include <QSyntaxHighlighter>
#include <string>

class QMenu;

namespace telvane::richtext {
class TRichText;
}  // namespace telvane::richtext

namespace telvane::spellcheck {

class SpellService;

class SpellHighlighter : public QSyntaxHighlighter {
    Q_OBJECT
public:
    SpellHighlighter(QTextDocument* document, SpellService& service);

protected:
    void highlightBlock(const QString& text) override;

private:
    SpellService& service_;
};

class SpellAsYouType : public QObject {
    Q_OBJECT
public:
    // Attaches itself to the part as a child.
    SpellAsYouType(richtext::TRichText* part, const std::string& programDir);

    // The part's context menu for a point of its viewport (the caller owns the menu).
    QMenu* buildContextMenu(const QPoint& viewportPos);
    bool active() const { return highlighter_ != nullptr; }

private:
    void follow();
    void showMenu(const QPoint& viewportPos);

    richtext::TRichText* part_;
    SpellService& service_;
    SpellHighlighter* highlighter_ = nullptr;
};

}  // namespace telvane::spellcheck
