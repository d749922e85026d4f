// The init-string helper (see initstringhelper.h).
#include "sessions/initstringhelper.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "app/uihelpers.h"

namespace telvane::sessions {

namespace {

constexpr ModemTypeEntry kModemTypes[kModemTypeCount] = {
    {"Hayes Compatible modem   or   UNKNOWN", "AT&F&C1&D2&K3", ""},
    {"US Robotics/3COM Modem   or   WinModem", "AT&H3&I2&R2", ""},
    {"US Robotics/3COM Sportster 28.8 or Early 33.6 model", "AT&H3&I2&R2", "S36=0"},
    {"US Robotics/3COM Late Model Sportster 33.6 model", "AT&H3&I2&R2", "S36=8"},
    {"US Robotics/3COM Sportster X2 modem", "AT&H3&I2&R2", "S36=8S33=34"},
    {"Cirrus Logic or AT&&T modem or Motorola SM56", "AT&F&C1&D2\\Q3", ""},
};

constexpr int kOkResult = 1;
constexpr int kCancelResult = 2;

bool isDigit(QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); }

}  // namespace

const ModemTypeEntry& ModemType(int item) { return kModemTypes[item >= 0 && item < kModemTypeCount ? item : 0]; }

std::optional<int> s7RegisterValue(const QString& initString) {
    const int at = initString.indexOf(QStringLiteral("S7="), 0, Qt::CaseInsensitive);
    if (at < 0) return std::nullopt;
    QString part = initString.mid(at, 6);
    while (!part.isEmpty() && !isDigit(part.back())) part.chop(1);
    const QString digits = part.mid(3, 3);
    if (digits.isEmpty()) return std::nullopt;
    for (QChar c : digits)
        if (!isDigit(c)) return std::nullopt;
    return digits.toInt();
}

bool s7BoxPreset(const QString& initString) {
    const std::optional<int> value = s7RegisterValue(initString);
    if (!value) return false;
    const int threshold = initString.contains(QStringLiteral("&H3"), Qt::CaseSensitive) ? 90 : 65;
    return *value > threshold;
}

int modemTypePreset(const QString& initString) {
    static const struct {
        const char* marker;
        int item;
    } rules[] = {{"S36=0", 2}, {"S33=34", 4}, {"S36=8", 3}, {"\\Q3", 5}, {"&R2", 1}};
    for (const auto& rule : rules)
        if (initString.contains(QLatin1String(rule.marker), Qt::CaseInsensitive)) return rule.item;
    return 0;
}

QString buildInitString(int item, bool sending, bool boxChecked) {
    const ModemTypeEntry& type = ModemType(item);
    QString s7 = QStringLiteral("S7=65");
    if (sending) {
        if (boxChecked)
            s7 = QStringLiteral("S7=120");
        else if (item != 0)
            s7 = QStringLiteral("S7=90");
    }
    return QLatin1String(type.base) + s7 + QLatin1String(type.addition);
}

// ---------------------------------------------------------------------------------------------

TModemInitStringHelperForm::TModemInitStringHelperForm(const QString& current, bool sending, QWidget* parent)
    : QDialog(parent), current_(current), sending_(sending) {
    setObjectName(QStringLiteral("TModemInitStringHelperForm"));
    setWindowTitle(QStringLiteral("Modem Initialization String Helper"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    auto* layout = new QVBoxLayout(this);

    auto* typeBox = new QGroupBox(QStringLiteral("I have a:"));
    typeBox->setObjectName(QStringLiteral("ModemType"));
    auto* typeLayout = new QVBoxLayout(typeBox);
    ModemType = new QButtonGroup(this);
    for (int i = 0; i < kModemTypeCount; ++i) {
        auto* radio = new QRadioButton(QString::fromLatin1(kModemTypes[i].text));
        radio->setObjectName(QStringLiteral("ModemType%1").arg(i));
        ModemType->addButton(radio, i);
        typeLayout->addWidget(radio);
    }
    layout->addWidget(typeBox);

    auto* checkRow = new QHBoxLayout;
    CheckAT7 = new QCheckBox;
    CheckAT7->setObjectName(QStringLiteral("CheckAT7"));
    CheckAT7Label = new QLabel(
        QStringLiteral("The Faxmodem frequently hangs up before the faxmodem/fax machine on the other end answers "
                       "and/or I have problems with international calls"));
    CheckAT7Label->setObjectName(QStringLiteral("CheckAT7Label"));
    CheckAT7Label->setWordWrap(true);
    CheckAT7Label->setMinimumWidth(360);
    CheckAT7Label->setCursor(Qt::PointingHandCursor);
    CheckAT7Label->installEventFilter(this);
    checkRow->addWidget(CheckAT7, 0, Qt::AlignTop);
    checkRow->addWidget(CheckAT7Label, 1);
    layout->addLayout(checkRow);
    CheckAT7->setVisible(sending);
    CheckAT7Label->setVisible(sending);

    auto* buttons = new QHBoxLayout;
    BitBtn1 = new QPushButton(QStringLiteral("Ok"));
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setDefault(true);
    BitBtn2 = new QPushButton(QStringLiteral("Cancel"));
    BitBtn2->setObjectName(QStringLiteral("BitBtn2"));
    BitBtn3 = new QPushButton(QStringLiteral("Leave it Blank"));
    BitBtn3->setObjectName(QStringLiteral("BitBtn3"));
    buttons->addStretch();
    buttons->addWidget(BitBtn1);
    buttons->addWidget(BitBtn2);
    buttons->addWidget(BitBtn3);
    layout->addLayout(buttons);
    connect(BitBtn1, &QPushButton::clicked, this, [this] { done(kOkResult); });
    connect(BitBtn2, &QPushButton::clicked, this, [this] { done(kCancelResult); });
    connect(BitBtn3, &QPushButton::clicked, this, [this] { done(kLeaveItBlankResult); });

    CheckAT7->setChecked(s7BoxPreset(current));
    ModemType->button(modemTypePreset(current))->setChecked(true);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

// Clicking the label toggles the box, as the label is part of the box's caption.
bool TModemInitStringHelperForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == CheckAT7Label && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        CheckAT7LabelClick();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TModemInitStringHelperForm::CheckAT7LabelClick() { CheckAT7->toggle(); }

int TModemInitStringHelperForm::selectedType() const { return ModemType->checkedId() < 0 ? 0 : ModemType->checkedId(); }

QString TModemInitStringHelperForm::resultString(int modalResult) const {
    if (modalResult == kLeaveItBlankResult) return {};
    if (modalResult != kOkResult) return current_;
    return buildInitString(selectedType(), sending_, sending_ && CheckAT7->isChecked());
}

QString modemInitStringHelper(const QString& current, bool sending, QWidget* parent) {
    TModemInitStringHelperForm form(current, sending, parent);
    form.adjustSize();
    app::centerDialog(&form);
    const int result = form.exec();
    return form.resultString(result);
}

}  // namespace telvane::sessions
