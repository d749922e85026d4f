// The note dialog of a received fax: one line of at most 60 characters, shown under the sender's
// station ID. The dialog returns 1 for "&Accept" and 2 for "Cance&l" (or closing the window).
#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;

namespace telvane::shell {

class TEditReceiveNotes : public QDialog {
    Q_OBJECT
public:
    static constexpr int kNotesLength = 60;

    explicit TEditReceiveNotes(QWidget* parent = nullptr);

    QLineEdit* Notes() const { return notes_; }
    QLabel* Descript() const { return descript_; }

    void reject() override;

private:
    QLabel* descript_;
    QLineEdit* notes_;
};

}  // namespace telvane::shell
