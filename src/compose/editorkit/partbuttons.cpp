// Tool-bar buttons of the editors' rich-text parts (see partbuttons.h).
#include "compose/editorkit/partbuttons.h"

#include <QFontComboBox>
#include <QToolButton>

#include "compose/editorkit/defaultfont.h"
#include "compose/paragraph/tparagraphpropdlg.h"
#include "compose/richtext/trichtext.h"
#include "compose/richtext/trichtoolbar.h"
#include "app/uihelpers.h"

namespace telvane::editorkit {
namespace {

QToolButton* makeButton(QWidget* parent, const char* name, const QString& caption, const QString& hint) {
    auto* button = new QToolButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setText(caption);
    button->setToolTip(hint);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

}  // namespace

void compactFontList(richtext::TRichToolBar* bar) {
    bar->FontName->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    bar->FontName->setMinimumContentsLength(10);
    // The list's own hint leaves room for the longest family name; the drop-down still shows it whole.
    bar->FontName->setMaximumWidth(bar->FontName->fontMetrics().averageCharWidth() * 14 + 40);
}

void addToToolBar(richtext::TRichToolBar* bar, QWidget* control) {
    auto* spacer = new QWidget(bar);
    spacer->setObjectName(QStringLiteral("Spacer"));
    spacer->setFixedWidth(2);
    bar->addControl(spacer);
    bar->addControl(control);
}

void pageBreakClick(richtext::TRichText& part) {
    if (!app::AskYesNoDefaultNo(QStringLiteral("Add a page break here?"), QStringLiteral("Page Break"))) return;
    part.insertPageBreak();
    part.repaintDocument();
}

void paragraphClick(richtext::TRichText& part, QWidget* owner) {
    paragraph::TParagraphPropDlg dialog(owner);
    dialog.setRichText(&part);
    dialog.exec();
}

void showWordWrap(const richtext::TRichText& part, QToolButton& button) {
    button.setChecked(part.WordWrap());
    button.setToolTip(part.WordWrap() ? kWrapOffHint : kWrapOnHint);
}

void wordWrapClick(richtext::TRichText& part, QToolButton& button) {
    part.setWordWrap(!part.WordWrap());
    showWordWrap(part, button);
    part.repaintDocument();
}

PartButtons addPartButtons(richtext::TRichToolBar* bar, richtext::TRichText* part, const PartButtonNames& names,
                           const std::string& programDir, const std::function<void()>& afterOwnWindow) {
    compactFontList(bar);
    PartButtons b;
    b.pageBreak = makeButton(bar, names.pageBreak, QStringLiteral("Page Break"), QStringLiteral("Insert Page Break"));
    b.paragraph = makeButton(bar, names.paragraph, QStringLiteral("\u00b6"), QStringLiteral("Paragraph properties"));
    b.wordWrap = makeButton(bar, names.wordWrap, QStringLiteral("Wrap"), kWrapOnHint);
    b.wordWrap->setCheckable(true);
    b.defaultFont = makeButton(bar, names.defaultFont, QStringLiteral("Default Font"),
                               QStringLiteral("Set the default font for the editor"));
    for (QToolButton* button : {b.pageBreak, b.paragraph, b.wordWrap, b.defaultFont}) addToToolBar(bar, button);
    showWordWrap(*part, *b.wordWrap);

    QToolButton* wrapButton = b.wordWrap;
    QObject::connect(b.pageBreak, &QToolButton::clicked, part, [part] { pageBreakClick(*part); });
    QObject::connect(b.paragraph, &QToolButton::clicked, part, [part, afterOwnWindow] {
        paragraphClick(*part, part->window());
        if (afterOwnWindow) afterOwnWindow();
    });
    // The button toggles its own down state on click; the handler sets it from the part instead.
    QObject::connect(b.wordWrap, &QToolButton::clicked, part,
                     [part, wrapButton] { wordWrapClick(*part, *wrapButton); });
    QObject::connect(b.defaultFont, &QToolButton::clicked, part,
                     [part, programDir] { chooseDefaultFont(part->window(), programDir); });
    return b;
}

}  // namespace telvane::editorkit
