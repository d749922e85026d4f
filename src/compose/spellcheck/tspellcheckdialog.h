// TSpellCheckDialog: "Spell Check". Walks a rich-text part word by word, stops at each word that no
// dictionary holds, marks it, shows it with the engine's suggestions, and lets the user replace it
// (one undo step per replacement, the word's formatting kept), skip it, or add it to the user
// dictionary. The dictionaries are opened when the dialog is created: the main one of the user's
// language (Preferences; by default the locale's), and the user dictionary of the data directory,
// created when missing; "&Add Word" is enabled only when a user dictionary could be had. At the end
// of the text the dialog hides, says "Spell check complete" and closes (result 1); "Cancel" closes
// it with result 2. Closing ends the walk and the dictionaries.
#pragma once

#include <QDialog>
#include <string>

#include "compose/spell/tacropspell.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPushButton;

namespace telvane::richtext {
class TRichText;
}  // namespace telvane::richtext

namespace telvane::spellcheck {

class TSpellCheckDialog : public QDialog {
    Q_OBJECT
public:
    explicit TSpellCheckDialog(const std::string& programDir, QWidget* parent = nullptr);
    ~TSpellCheckDialog() override;

    // The part to check; given before the dialog is shown.
    void setRichText(richtext::TRichText* richText);

    void replaceClick();
    void getNextWordButtonClick();
    void addbuttonClick();
    void CancelbuttonClick();
    void wordListClick(QListWidgetItem* item);

    // True when the main dictionary could be opened.
    bool mainDictionaryOpen() const { return spell_.mainOpen(); }

    QLineEdit* Word = nullptr;
    QLineEdit* ReplaceAs = nullptr;
    QListWidget* WordList = nullptr;
    QPushButton* Replace = nullptr;
    QPushButton* GetNextWordButton = nullptr;
    QPushButton* Addbutton = nullptr;
    QPushButton* Cancelbutton = nullptr;

    void done(int result) override;
    // Escape and the window's close button count as Cancel.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FormActivate();
    void nextError();

    spell::TAcropSpell spell_;
    int userDictionary_ = -1;
    richtext::TRichText* rich_ = nullptr;
    bool activated_ = false;
    bool walking_ = false;
};

}  // namespace telvane::spellcheck
