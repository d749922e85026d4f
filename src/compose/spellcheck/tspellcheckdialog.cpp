// TSpellCheckDialog (see tspellcheckdialog.h).
#include "compose/spellcheck/tspellcheckdialog.h"

#include <sys/stat.h>

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "compose/richtext/trichtext.h"
#include "compose/spell/charset.h"
#include "compose/spell/dictpath.h"
#include "compose/spellcheck/spellservice.h"
#include "app/uihelpers.h"

namespace telvane::spellcheck {

namespace {

QLabel* labelFor(QWidget* parent, const QString& text, QWidget* buddy) {
    auto* label = new QLabel(text, parent);
    label->setBuddy(buddy);
    return label;
}

QPushButton* button(QWidget* parent, const char* name, const QString& caption, const QString& hint) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(QLatin1String(name));
    b->setToolTip(hint);
    b->setAutoDefault(false);
    return b;
}

}  // namespace

TSpellCheckDialog::TSpellCheckDialog(const std::string& programDir, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("SpellCheckDialog"));
    setWindowTitle(QStringLiteral("Spell Check"));

    Word = new QLineEdit(this);
    Word->setObjectName(QStringLiteral("Word"));
    Word->setToolTip(QStringLiteral("The spell checker does not have this word in its dictionary"));
    ReplaceAs = new QLineEdit(this);
    ReplaceAs->setObjectName(QStringLiteral("ReplaceAs"));
    ReplaceAs->setToolTip(QStringLiteral("The spelling error will be replaced with this word if you click Replace"));
    WordList = new QListWidget(this);
    WordList->setObjectName(QStringLiteral("WordList"));
    WordList->setToolTip(
        QStringLiteral("Click one of these suggested replacements to move it into the Replace With box"));
    Replace = button(this, "Replace", QStringLiteral("Replace "), QStringLiteral("Replace the word"));
    Replace->setDefault(true);
    GetNextWordButton =
        button(this, "GetNextWordButton", QStringLiteral("&Skip Word"), QStringLiteral("Skip the word"));
    Addbutton =
        button(this, "Addbutton", QStringLiteral("&Add Word"), QStringLiteral("Add the word to the user dictionary"));
    Cancelbutton = button(this, "Cancelbutton", QStringLiteral("Cancel"), QStringLiteral("Cancel the spell check"));

    auto* grid = new QGridLayout;
    grid->addWidget(labelFor(this, QStringLiteral("Possible spelling error"), Word), 0, 0);
    grid->addWidget(Word, 1, 0);
    grid->addWidget(labelFor(this, QStringLiteral("Replace with"), ReplaceAs), 2, 0);
    grid->addWidget(ReplaceAs, 3, 0);
    grid->addWidget(labelFor(this, QStringLiteral("Possible replacements"), WordList), 4, 0);
    grid->addWidget(WordList, 5, 0);
    auto* buttons = new QVBoxLayout;
    for (QPushButton* b : {Replace, GetNextWordButton, Addbutton, Cancelbutton}) buttons->addWidget(b);
    buttons->addStretch(1);
    grid->addLayout(buttons, 1, 1, 5, 1);
    setLayout(grid);

    connect(Replace, &QPushButton::clicked, this, &TSpellCheckDialog::replaceClick);
    connect(GetNextWordButton, &QPushButton::clicked, this, &TSpellCheckDialog::getNextWordButtonClick);
    connect(Addbutton, &QPushButton::clicked, this, &TSpellCheckDialog::addbuttonClick);
    connect(Cancelbutton, &QPushButton::clicked, this, &TSpellCheckDialog::CancelbuttonClick);
    connect(WordList, &QListWidget::itemClicked, this, &TSpellCheckDialog::wordListClick);
    connect(WordList, &QListWidget::itemDoubleClicked, this, &TSpellCheckDialog::wordListClick);

    // The dictionaries: the main one of the user's language, and the user's (created when missing).
    spell_.DictionaryName = mainDictionaryFor(programDir);
    spell_.openMainDictionary(spell_.DictionaryName);
    const std::string user = spell::userDictionaryPath(programDir);
    struct stat st {};
    userDictionary_ =
        ::stat(user.c_str(), &st) == 0 ? spell_.openUserDictionary(user) : spell_.createUserDictionary(user);
    Addbutton->setEnabled(userDictionary_ != -1);
}

TSpellCheckDialog::~TSpellCheckDialog() {
    if (walking_ && rich_) rich_->wordWalkEnd();
}

void TSpellCheckDialog::setRichText(richtext::TRichText* richText) { rich_ = richText; }

void TSpellCheckDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (activated_) return;
    activated_ = true;
    // Once the dialog is on screen.
    QTimer::singleShot(0, this, &TSpellCheckDialog::FormActivate);
}

void TSpellCheckDialog::FormActivate() {
    if (!rich_) {
        done(2);
        return;
    }
    rich_->wordWalkBegin();
    walking_ = true;
    nextError();
}

void TSpellCheckDialog::nextError() {
    QString word;
    while (true) {
        word = rich_->wordWalkNext();
        if (word.isEmpty()) break;
        const auto w = toCp1252(word);
        // A word with a character outside the code page or the alphabet cannot be judged.
        if (!w || !spell::inAlphabet(*w) || spell_.isWord(*w)) continue;
        WordList->clear();
        for (const std::string& s : spell_.suggest(*w)) WordList->addItem(fromCp1252(s));
        rich_->wordWalkMark();
        break;
    }
    if (word.isEmpty()) WordList->clear();
    Word->setText(word);
    ReplaceAs->setText(WordList->count() > 0 ? WordList->item(0)->text() : word);
    if (word.isEmpty()) {
        hide();
        app::ShowInformation(QStringLiteral("Spell check complete"));
        done(1);
    }
}

void TSpellCheckDialog::replaceClick() {
    if (!walking_) return;
    rich_->wordWalkReplace(ReplaceAs->text());
    nextError();
    rich_->repaintDocument();
}

void TSpellCheckDialog::getNextWordButtonClick() {
    if (walking_) nextError();
}

void TSpellCheckDialog::addbuttonClick() {
    if (!walking_) return;
    if (!Word->text().isEmpty()) {
        const auto w = toCp1252(Word->text());
        if (w && spell_.addWord(*w, userDictionary_)) SpellService::notifyDictionariesChanged();
    }
    nextError();
}

void TSpellCheckDialog::CancelbuttonClick() { reject(); }

void TSpellCheckDialog::reject() { done(2); }

void TSpellCheckDialog::wordListClick(QListWidgetItem* item) {
    if (item) ReplaceAs->setText(item->text());
}

void TSpellCheckDialog::done(int result) {
    if (walking_ && rich_) rich_->wordWalkEnd();
    walking_ = false;
    spell_.close();
    QDialog::done(result);
}

}  // namespace telvane::spellcheck
