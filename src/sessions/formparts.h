// Helpers that build the wizard's form: wrapped labels, numbered questions, page layouts, groups of
// radio buttons, edits, check boxes, buttons and captioned edits, and keeping a window on the screen.
// Every control gets the object name it is looked up by.
#pragma once

#include <QString>
#include <QStringList>

class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QVBoxLayout;
class QWidget;

namespace telvane::sessions {

// A label whose text wraps.
QLabel* wrapped(const QString& text);
// A numbered question with a little space above it.
void addQuestion(QVBoxLayout* layout, const QString& text);
// The layout of a wizard page.
QVBoxLayout* pageLayout(QWidget* page);
// A group box of radio buttons laid out in `columns` columns; ids are the item indexes.
QGroupBox* radioGroup(QWidget* owner, const QString& title, const QString& name, const QStringList& items, int columns,
                      QButtonGroup*& group);
// Selects item `index`: an index past the last item selects the last one, one below 0 selects none.
void setRadioIndex(QButtonGroup* group, int index);
QLineEdit* lineEdit(const QString& name, int maxLength = 0);
QCheckBox* checkBox(const QString& name, const QString& caption);
// A push button that focus does not make the default.
QPushButton* button(const QString& name, const QString& caption);
// A caption over an edit (the caption's accelerator moves to the edit) and an optional note beside it.
void addCaptionedEdit(QVBoxLayout* layout, const QString& caption, QLineEdit* edit, const QString& note = {});
// Moves a window that reaches past the screen's edges back onto it (a tall dialog centred on a
// small main window would otherwise hang below the screen).
void keepOnScreen(QWidget* window);
// The text shortened in the middle to fit `width` pixels of the label's font.
QString elided(const QLabel* label, const QString& text, int width);

}  // namespace telvane::sessions
