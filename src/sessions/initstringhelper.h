// The init-string helper: proposes a modem initialisation string from the kind of modem and, for
// sending, whether calls are hung up too early (a longer S7 wait). It reads the string it is
// opened on to preselect its answers, so a string it made shows the same answers again.
// Guarantees: "Cancel" returns the string handed in, "Leave it Blank" the empty string, "Ok" a
// string that begins with "AT"; the rules below need no window.
#pragma once

#include <QDialog>
#include <QString>

#include <optional>

class QButtonGroup;
class QCheckBox;
class QLabel;
class QPushButton;

namespace telvane::sessions {

inline constexpr int kModemTypeCount = 6;
// Modal result of "Leave it Blank".
inline constexpr int kLeaveItBlankResult = -99;

// The radio item text (with "&&" for a shown "&"), the base string and the addition after the S7 part.
struct ModemTypeEntry {
    const char* text;
    const char* base;
    const char* addition;
};
const ModemTypeEntry& ModemType(int item);

// The value of the "S7=" register (found without regard to case): the six characters from "S7=",
// trailing non-digits dropped, the up to three characters after "S7=" read as a number; nullopt
// when there is no "S7=" or that text is not a number.
std::optional<int> s7RegisterValue(const QString& initString);
// Whether the hang-up box starts checked: S7 above 90 when the string holds "&H3" (exact case), above 65 otherwise.
bool s7BoxPreset(const QString& initString);
// The modem type the string was made for: the first of S36=0 (2), S33=34 (4), S36=8 (3), \Q3 (5),
// &R2 (1) that it contains without regard to case; else 0.
int modemTypePreset(const QString& initString);
// The string "Ok" gives: base, then "S7=120" (sending, box checked), "S7=90" (sending, any item
// but 0) or "S7=65", then the item's addition.
QString buildInitString(int item, bool sending, bool boxChecked);

class TModemInitStringHelperForm : public QDialog {
    Q_OBJECT
public:
    TModemInitStringHelperForm(const QString& current, bool sending, QWidget* parent = nullptr);
    void CheckAT7LabelClick();
    // The string for a closing result: 1 (Ok), 2 (Cancel) or -99 (Leave it Blank).
    QString resultString(int modalResult) const;
    int selectedType() const;

    QButtonGroup* ModemType;
    QCheckBox* CheckAT7;
    QLabel* CheckAT7Label;
    QPushButton *BitBtn1, *BitBtn2, *BitBtn3;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QString current_;
    bool sending_;
};

// Opens the helper on `current` (centred on the main window) and returns the new string.
QString modemInitStringHelper(const QString& current, bool sending, QWidget* parent = nullptr);

}  // namespace telvane::sessions
