// The preferences wizard (see preferences.h).
#include "sessions/preferences.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFont>
#include <QFrame>
#include <QGridLayout>
#include <QGuiApplication>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPrinterInfo>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStackedWidget>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

#ifdef TELVANE_HAVE_MULTIMEDIA
#include <QSoundEffect>
#endif

#include "sessions/faxwindows.h"
#include "sessions/initstringhelper.h"
#include "sessions/spelllanguagechoice.h"
#include "sessions/modemcommands.h"
#include "sessions/modemsetup.h"
#include "app/appstate.h"
#include "app/helpwindow.h"
#include "app/programdir.h"
#include "app/uihelpers.h"

namespace telvane::sessions {

namespace {

constexpr int kWizardWidth = 700;
constexpr int kPageHeight = 450;

const char* const kPageTitles[TPreferences::PageCount] = {
    "Wizard Information",       "Modem and Communications Port", "Sending Faxes - Part 1",
    "Sending Faxes - Part 2",   "Sending Faxes - Part 3",        "Receiving Faxes - Part 1",
    "Receiving Faxes - Part 2", "Receiving Faxes - Part 3",      "Advanced"};

const char* const kRates[] = {"2400", "4800", "7200", "9600", "12000", "14400"};
const char* const kClasses[] = {"auto detect", "class 1", "class 2", "class 2.0"};

const QString kInitHint = QStringLiteral(
    "If you use an init string here, it will be sent just \nbefore the default init: \n\n('ATE0Q0V1X4S0=0'). "
    "\n\nThe init string should not contain an 'AT' prefix.");

QString qs(const std::string& s) { return QString::fromStdString(s); }
std::string ss(const QString& s) { return s.toStdString(); }

QLabel* wrapped(const QString& text) {
    auto* label = new QLabel(text);
    label->setWordWrap(true);
    return label;
}

void addQuestion(QVBoxLayout* layout, const QString& text) {
    layout->addSpacing(6);
    layout->addWidget(wrapped(text));
}

QVBoxLayout* pageLayout(QWidget* page) {
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(4, 0, 4, 0);
    layout->setSpacing(4);
    return layout;
}

// A group box of radio buttons laid out in `columns` columns; ids are the item indexes.
QGroupBox* radioGroup(QWidget* owner, const QString& title, const QString& name, const QStringList& items, int columns,
                      QButtonGroup*& group) {
    auto* box = new QGroupBox(title);
    box->setObjectName(name);
    auto* grid = new QGridLayout(box);
    group = new QButtonGroup(owner);
    group->setObjectName(name);
    for (int i = 0; i < items.size(); ++i) {
        auto* radio = new QRadioButton(items[i]);
        radio->setObjectName(name + QString::number(i));
        group->addButton(radio, i);
        grid->addWidget(radio, i / columns, i % columns);
    }
    return box;
}

// Selects item `index`: an index past the last item selects the last one, one below 0 selects none.
void setRadioIndex(QButtonGroup* group, int index) {
    const int count = static_cast<int>(group->buttons().size());
    if (index >= count) index = count - 1;
    if (index < 0) {
        group->setExclusive(false);
        for (QAbstractButton* b : group->buttons()) b->setChecked(false);
        group->setExclusive(true);
        return;
    }
    group->button(index)->setChecked(true);
}

QComboBox* rateList(const QString& name) {
    auto* combo = new QComboBox;
    combo->setObjectName(name);
    for (const char* rate : kRates) combo->addItem(QString::fromLatin1(rate));
    return combo;
}

QLineEdit* lineEdit(const QString& name, int maxLength = 0) {
    auto* edit = new QLineEdit;
    edit->setObjectName(name);
    if (maxLength > 0) edit->setMaxLength(maxLength);
    return edit;
}

QCheckBox* checkBox(const QString& name, const QString& caption) {
    auto* box = new QCheckBox(caption);
    box->setObjectName(name);
    return box;
}

QPushButton* button(const QString& name, const QString& caption) {
    auto* b = new QPushButton(caption);
    b->setObjectName(name);
    b->setAutoDefault(false);
    return b;
}

// A caption over an edit (the caption's accelerator moves to the edit) and an optional note under it.
void addCaptionedEdit(QVBoxLayout* layout, const QString& caption, QLineEdit* edit, const QString& note = {}) {
    auto* label = new QLabel(caption);
    label->setBuddy(edit);
    layout->addWidget(label);
    auto* row = new QHBoxLayout;
    row->addWidget(edit, 2);
    if (!note.isEmpty()) row->addWidget(new QLabel(note), 1);
    layout->addLayout(row);
}

// The device list is read again each time it drops down, so a modem plugged in while the wizard
// is open shows up; the text in the edit stays.
class DeviceChooser : public QComboBox {
public:
    void showPopup() override {
        const QString text = currentText();
        {
            const QSignalBlocker block(this);
            clear();
            addItems(SerialDeviceSource()());
            setEditText(text);
        }
        QComboBox::showPopup();
    }
};

// The settings' port map stands in for the wizard's own, unsaved one while the windows that look
// devices up there (find modem, class check) run.
class PortMapOverride {
public:
    explicit PortMapOverride(const std::array<std::string, kPortCount>& ports) : saved_(AppSettings().Ports) {
        AppSettings().Ports = ports;
    }
    ~PortMapOverride() { AppSettings().Ports = saved_; }

private:
    std::array<std::string, kPortCount> saved_;
};

// Moves a window that reaches past the screen's edges back onto it (a tall dialog centred on a
// small main window would otherwise hang below the screen).
void KeepOnScreen(QWidget* window) {
    const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen) return;
    const QRect area = screen->availableGeometry();
    QPoint pos = window->pos();
    const QSize size = window->frameGeometry().size();
    if (pos.x() + size.width() > area.right() + 1) pos.setX(area.right() + 1 - size.width());
    if (pos.y() + size.height() > area.bottom() + 1) pos.setY(area.bottom() + 1 - size.height());
    pos.setX(std::max(pos.x(), area.left()));
    pos.setY(std::max(pos.y(), area.top()));
    window->move(pos);
}

QString elided(const QLabel* label, const QString& text, int width) {
    return label->fontMetrics().elidedText(text, Qt::ElideMiddle, width);
}

}  // namespace

QStringList SerialDevicesPresent(const QString& devRoot, const QString& sysRoot) {
    // Names in their natural order: ttyS2 before ttyS10.
    const auto byName = [](const QString& a, const QString& b) {
        const auto split = [](const QString& s) {
            int digits = static_cast<int>(s.size());
            while (digits > 0 && s[digits - 1].isDigit()) --digits;
            return std::make_pair(s.left(digits), s.mid(digits).toLongLong());
        };
        return split(a) < split(b);
    };
    QStringList result;
    QDir byId(devRoot + QStringLiteral("/serial/by-id"));
    QStringList ids = byId.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    std::sort(ids.begin(), ids.end(), byName);
    for (const QString& id : ids) result << byId.filePath(id);
    const QDir dev(devRoot);
    for (const char* pattern : {"ttyACM*", "ttyUSB*", "ttyS*"}) {
        QStringList names = dev.entryList({QString::fromLatin1(pattern)}, QDir::AllEntries | QDir::System);
        std::sort(names.begin(), names.end(), byName);
        for (const QString& name : names) {
            if (name.startsWith(QStringLiteral("ttyS"))) {
                // Legacy serial ports exist as device nodes whether or not a UART is behind them.
                QFile type(sysRoot + QLatin1Char('/') + name + QStringLiteral("/type"));
                if (type.open(QIODevice::ReadOnly) && type.readAll().trimmed() == "0") continue;
            }
            result << dev.filePath(name);
        }
    }
    return result;
}

std::function<QStringList()>& SerialDeviceSource() {
    static std::function<QStringList()> source = [] { return SerialDevicesPresent(); };
    return source;
}

std::function<QStringList()>& PrinterNameSource() {
    static std::function<QStringList()> source = [] { return QPrinterInfo::availablePrinterNames(); };
    return source;
}

std::optional<int> ParseWholeNumber(const QString& text) {
    bool ok = false;
    const int value = text.trimmed().toInt(&ok, 10);
    if (!ok) return std::nullopt;
    return value;
}

// ---------------------------------------------------------------------------------------------

TPreferences::TPreferences(QWidget* parent) : QDialog(parent) { FormCreate(); }

TPreferences::~TPreferences() { ClosePort(OvxComPort1); }

void TPreferences::FormCreate() {
    setObjectName(QStringLiteral("TPreferences"));
    setWindowTitle(QStringLiteral("Preferences Wizard"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    auto* outer = new QVBoxLayout(this);

    PageCombo = new QComboBox;
    PageCombo->setObjectName(QStringLiteral("PageCombo"));
    for (const char* title : kPageTitles) PageCombo->addItem(QString::fromLatin1(title));
    PageCombo->setMaxVisibleItems(PageCount);
    PageLabel = new QLabel;
    PageLabel->setObjectName(QStringLiteral("PageLabel"));
    QFont titleFont = PageLabel->font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.4);
    PageLabel->setFont(titleFont);
    auto* top = new QHBoxLayout;
    top->addWidget(PageLabel, 1);
    top->addWidget(PageCombo);
    outer->addLayout(top);
    auto* rule = new QFrame;
    rule->setFrameShape(QFrame::HLine);
    rule->setFrameShadow(QFrame::Sunken);
    outer->addWidget(rule);

    Pages = new QStackedWidget;
    Pages->addWidget(buildInformationPage());
    Pages->addWidget(buildPortPage());
    Pages->addWidget(buildSending1Page());
    Pages->addWidget(buildSending2Page());
    Pages->addWidget(buildSending3Page());
    Pages->addWidget(buildReceiving1Page());
    Pages->addWidget(buildReceiving2Page());
    Pages->addWidget(buildReceiving3Page());
    Pages->addWidget(buildAdvancedPage());
    Pages->setFixedHeight(kPageHeight);
    outer->addWidget(Pages, 1);

    auto* rule2 = new QFrame;
    rule2->setFrameShape(QFrame::HLine);
    rule2->setFrameShadow(QFrame::Sunken);
    outer->addWidget(rule2);
    auto* bottom = new QHBoxLayout;
    Helpbutton = button(QStringLiteral("Helpbutton"), QStringLiteral("&Help"));
    ProblemSolverButton = button(QStringLiteral("ProblemSolverButton"), QStringLiteral("Technical Help"));
    Cancelbutton = button(QStringLiteral("Cancelbutton"), QStringLiteral("Cance&l"));
    BackButton = button(QStringLiteral("BackButton"), QStringLiteral("< Back"));
    Nextbutton = button(QStringLiteral("Nextbutton"), QStringLiteral("Next >"));
    Finishbutton = button(QStringLiteral("Finishbutton"), QStringLiteral("&Finish"));
    Nextbutton->setDefault(true);
    BackButton->setEnabled(false);
    Finishbutton->setEnabled(false);
    bottom->addWidget(Helpbutton);
    bottom->addWidget(ProblemSolverButton);
    bottom->addStretch();
    bottom->addWidget(Cancelbutton);
    bottom->addSpacing(12);
    bottom->addWidget(BackButton);
    bottom->addWidget(Nextbutton);
    bottom->addSpacing(12);
    bottom->addWidget(Finishbutton);
    outer->addLayout(bottom);
    setFixedWidth(kWizardWidth);

    connect(PageCombo, &QComboBox::activated, this, [this](int index) { PageComboClick(index); });
    connect(BackButton, &QPushButton::clicked, this, [this] { BackButtonClick(); });
    connect(Nextbutton, &QPushButton::clicked, this, [this] { NextbuttonClick(); });
    connect(Finishbutton, &QPushButton::clicked, this, [this] { FinishbuttonClick(); });
    connect(Cancelbutton, &QPushButton::clicked, this, [this] { CancelbuttonClick(); });
    connect(Helpbutton, &QPushButton::clicked, this, [this] { HelpButtonClick(); });
    connect(ProblemSolverButton, &QPushButton::clicked, this, [this] { ProblemSolverButtonClick(); });

    // The printers installed, behind the entry that stands for the system's default printer.
    PrintFaxOnReceiptPrinter->addItems(PrinterNameSource()());
    PrintFaxOnReceiptPrinter->insertItem(0, QString::fromLatin1(kDefaultPrinterName));

    // The port and send components lent to the find-modem and class-check windows.
    OvxComPort1.SetComNumber(1);
    OvxComPort1.SetInSize(8192);
    OvxComPort1.SetOutSize(8192);
    OvxComPort1.SetAutoOpen(false);
    OvxComPort1.SetPromptForPort(false);
    OvxComPort1.SetHWFlowOptions(telvane::transport::hwfUseRTS | telvane::transport::hwfRequireCTS);
    OvxComPort1.SetBufferFull(7372);
    OvxComPort1.SetBufferResume(819);
    OvxComPort1.SetTraceSize(32000);
    OvxComPort1.SetTraceName("OVEX.TRC");
    OvxComPort1.SetLogName("OVEX.LOG");
    OvxComPort1.SetTapiMode(telvane::transport::tmOff);
    OvxSendFax1.SetComPort(&OvxComPort1);
    OvxSendFax1.SetFaxClass(telvane::transport::fcUnknown);
    OvxSendFax1.FaxFileExt = "OVF";
    OvxSendFax1.EnhTextEnabled = false;

    showPage(WizardInformation);
}

QWidget* TPreferences::buildInformationPage() {
    auto* page = new QWidget;
    auto* layout = pageLayout(page);
    layout->addWidget(
        wrapped(QStringLiteral("This Fax Preferences wizard will help you to quickly and easily set up this program to "
                               "send and/or receive faxes.")));
    layout->addSpacing(10);
    layout->addWidget(wrapped(QStringLiteral(
        "Please take the time to answer each question. A few minutes spent here could save much time later on")));
    layout->addSpacing(10);
    layout->addWidget(wrapped(
        QStringLiteral("If you experience difficulty or need to change one or more settings, you can always return to "
                       "this screen by clicking on File -> Preferences from the main menu.")));
    layout->addSpacing(10);
    FirstTimeLabel = wrapped(
        QStringLiteral("While the default settings will work for most people, be sure to verify that the "
                       "COMMUNICATIONS PORT and FAX CLASS settings are correct before continuing to use the program."));
    FirstTimeLabel->setObjectName(QStringLiteral("FirstTimeLabel"));
    QFont bold = FirstTimeLabel->font();
    bold.setBold(true);
    FirstTimeLabel->setFont(bold);
    FirstTimeLabel->setVisible(false);
    layout->addWidget(FirstTimeLabel);
    layout->addSpacing(10);
    layout->addWidget(wrapped(QStringLiteral("To begin, click the Next button.")));
    layout->addStretch();
    SpellLanguage = new SpellLanguageChoice;
    layout->addWidget(SpellLanguage);
    return page;
}

QWidget* TPreferences::buildPortPage() {
    auto* page = new QWidget;
    auto* layout = pageLayout(page);
    addQuestion(layout, QStringLiteral("1. Which communications port is your modem on? It is usually COM1 or COM2. "
                                       "(Click on the Find Modem Port button for assistance.)"));
    auto* portBox = new QGroupBox(QStringLiteral("Port"));
    portBox->setObjectName(QStringLiteral("ComPort"));
    auto* grid = new QGridLayout(portBox);
    ComPort = new QButtonGroup(this);
    ComPort->setObjectName(QStringLiteral("ComPort"));
    for (int i = 0; i < kPortCount; ++i) {
        auto* radio = new QRadioButton(QStringLiteral("Com%1").arg(i + 1));
        radio->setObjectName(QStringLiteral("Com%1").arg(i + 1));
        ComPort->addButton(radio, i);
        PortDeviceLabels[i] = new QLabel;
        PortDeviceLabels[i]->setObjectName(QStringLiteral("ComDevice%1").arg(i + 1));
        QFont small = PortDeviceLabels[i]->font();
        small.setPointSizeF(small.pointSizeF() * 0.85);
        PortDeviceLabels[i]->setFont(small);
        PortDeviceLabels[i]->setFixedWidth(98);
        grid->addWidget(radio, 0, i);
        grid->addWidget(PortDeviceLabels[i], 1, i);
    }
    layout->addWidget(portBox);
    auto* deviceRow = new QHBoxLayout;
    PortDevice = new DeviceChooser;
    PortDevice->setObjectName(QStringLiteral("PortDevice"));
    PortDevice->setEditable(true);
    PortDevice->setInsertPolicy(QComboBox::NoInsert);
    PortDevice->addItems(SerialDeviceSource()());
    PortDevice->setToolTip(
        QStringLiteral("The device the selected port number stands for. Pick one of the serial devices\n"
                       "found on this computer, or type its path (for example /dev/ttyACM0)."));
    auto* deviceLabel = new QLabel(QStringLiteral("De&vice of the selected port:"));
    deviceLabel->setBuddy(PortDevice);
    deviceRow->addWidget(deviceLabel);
    deviceRow->addWidget(PortDevice, 1);
    layout->addLayout(deviceRow);
    auto* findRow = new QHBoxLayout;
    FindModemButton = button(QStringLiteral("FindModemButton"), QStringLiteral("Find Modem Port"));
    chkSM56 = checkBox(QStringLiteral("chkSM56"), QStringLiteral("My modem is a Motorola SM56"));
    findRow->addWidget(FindModemButton);
    findRow->addSpacing(20);
    findRow->addWidget(chkSM56);
    findRow->addStretch();
    layout->addLayout(findRow);

    addQuestion(layout, QStringLiteral("2. Is your telephone Tone or Pulse? Most telephones are Tone."));
    layout->addWidget(radioGroup(this, QStringLiteral("Tone or Pulse"), QStringLiteral("ToneOrPulse"),
                                 {QStringLiteral("Tone"), QStringLiteral("Pulse")}, 2, ToneOrPulse));

    addQuestion(layout, QStringLiteral("3. Enter the modem RESET strings to send to the modem before and/or after each "
                                       "fax session. IN MOST CASES THESE FIELDS SHOULD BE LEFT BLANK."));
    ResetString = lineEdit(QStringLiteral("ResetString"));
    ResetAfterString = lineEdit(QStringLiteral("ResetAfterString"));
    addCaptionedEdit(layout, QStringLiteral("Use this reset string BEFORE  fax sessions:"), ResetString,
                     QStringLiteral("(Usually AT&F or blank)"));
    addCaptionedEdit(layout, QStringLiteral("Use this reset string AFTER fax sessions"), ResetAfterString,
                     QStringLiteral("(Usually ATZ or blank)"));
    layout->addStretch();

    connect(ComPort, &QButtonGroup::idToggled, this, [this](int, bool on) {
        if (on) showPortDevice();
    });
    connect(PortDevice, &QComboBox::editTextChanged, this, [this](const QString& text) { portDeviceEdited(text); });
    connect(FindModemButton, &QPushButton::clicked, this, [this] { FindModemButtonClick(); });
    connect(chkSM56, &QCheckBox::clicked, this, [this] { chkSM56Click(); });
    return page;
}

QWidget* TPreferences::buildSending1Page() {
    auto* page = new QWidget;
    auto* layout = pageLayout(page);
    addQuestion(layout,
                QStringLiteral("4. What fax class is best for your modem when SENDING faxes? We recommend Class "
                               "1, but if you have problems you can try any of the fax classes which your "
                               "modem supports. (Click the Check Fax Class button for assistance.)"));
    auto* row = new QHBoxLayout;
    QStringList classes;
    for (const char* c : kClasses) classes << QString::fromLatin1(c);
    row->addWidget(radioGroup(this, QStringLiteral("Fax &class for SENDING Faxes"), QStringLiteral("FaxClass"), classes,
                              2, FaxClass),
                   1);
    CheckFaxClassButton = button(QStringLiteral("CheckFaxClassButton"), QStringLiteral("Check Fax Class"));
    row->addWidget(CheckFaxClassButton, 0, Qt::AlignBottom);
    layout->addLayout(row);

    addQuestion(layout, QStringLiteral(
                            "5. What is the maximum Transfer Rate (BPS) for SENDING faxes? (Although many modems "
                            "support higher rates (12000 - 14400), we recommend 9600 for more reliable fax sessions "
                            "and higher quality faxes. The slightly lower baud rate makes line errors less likely)"));
    TransferRate = rateList(QStringLiteral("TransferRate"));
    auto* rateLabel = new QLabel(QStringLiteral("Transfer Rate (BPS) for SENDING faxes"));
    rateLabel->setBuddy(TransferRate);
    auto* rateRow = new QHBoxLayout;
    rateRow->addWidget(rateLabel);
    rateRow->addWidget(TransferRate);
    rateRow->addStretch();
    layout->addLayout(rateRow);

    addQuestion(layout,
                QStringLiteral("6. Enter an additional modem initialization string for SENDING faxes. Click the Help "
                               "With Init Strings button below for additional help with initialization strings."));
    ModemInit = lineEdit(QStringLiteral("ModemInit"));
    ModemInit->setToolTip(kInitHint);
    layout->addWidget(ModemInit);
    HelpWithInitbutton = button(QStringLiteral("HelpWithInitbutton"), QStringLiteral("Help with Init Strings"));
    layout->addWidget(HelpWithInitbutton, 0, Qt::AlignLeft);
    layout->addStretch();

    connect(CheckFaxClassButton, &QPushButton::clicked, this, [this] { CheckFaxClassButtonClick(FaxClass); });
    connect(HelpWithInitbutton, &QPushButton::clicked, this, [this] { HelpWithInitbuttonClick(); });
    return page;
}

QWidget* TPreferences::buildSending2Page() {
    auto* page = new QWidget;
    auto* layout = pageLayout(page);
    addQuestion(layout, QStringLiteral("7. Enter your name and fax number for identifying your sent faxes"));
    Name = lineEdit(QStringLiteral("Name"), 35);
    FaxNumber = lineEdit(QStringLiteral("FaxNumber"), 20);
    addCaptionedEdit(layout, QStringLiteral("Your &name"), Name);
    addCaptionedEdit(layout, QStringLiteral("Your &fax number (Station ID#)"), FaxNumber);

    addQuestion(layout, QStringLiteral("8. Some modems (VERY FEW) can use error control to detect and correct fax "
                                       "transmission errors. Would you like to try using Fax Error Control when "
                                       "SENDING faxes?"));
    UseECM = checkBox(QStringLiteral("UseECM"), QStringLiteral("Use Fax Error Control when SENDING"));
    UseECM->setToolTip(QStringLiteral("Very few modems support fax error control (ECM).\nThe default is off."));
    layout->addWidget(UseECM);

    addQuestion(layout, QStringLiteral("9. Enter the dial prefix (i.e. a calling card number), and/or a dial suffix "
                                       "(i.e. access  code) here.  Do not include 'ATD', 'T' or 'P'.  "));
    DialPrefix = lineEdit(QStringLiteral("DialPrefix"));
    DialSuffix = lineEdit(QStringLiteral("DialSuffix"));
    addCaptionedEdit(layout, QStringLiteral("&Dial prefix or Calling Card Number:"), DialPrefix,
                     QStringLiteral("(number to dial BEFORE the fax number)"));
    addCaptionedEdit(layout, QStringLiteral("&Dial suffix or access code:"), DialSuffix,
                     QStringLiteral("(number to dial AFTER the fax number)"));
    layout->addWidget(
        wrapped(QStringLiteral("(HINT: Insert a comma in the prefix or suffix for a 2 second  pause. )")));
    layout->addStretch();
    return page;
}

QWidget* TPreferences::buildSending3Page() {
    auto* page = new QWidget;
    auto* layout = pageLayout(page);
    addQuestion(layout, QStringLiteral("10. Enter the number of dial attempts that should be made when sending faxes"));
    DialAttempts = lineEdit(QStringLiteral("DialAttempts"));
    DialAttempts->setMaximumWidth(100);
    layout->addWidget(DialAttempts);
    addQuestion(layout, QStringLiteral("11. Enter the number of seconds between dial attempts when sending faxes"));
    RetryWait = lineEdit(QStringLiteral("RetryWait"));
    RetryWait->setMaximumWidth(100);
    layout->addWidget(RetryWait);
    addQuestion(layout,
                QStringLiteral("12. If you use a US Robotics/3COM faxmodem, and you experience problems sending "
                               "multi-page faxes, check this setting and see if it helps. If it does not help, "
                               "leave it unchecked."));
    RenegotiateBetween =
        checkBox(QStringLiteral("RenegotiateBetween"), QStringLiteral("Renegotiate Between Pages when SENDING"));
    RenegotiateBetween->setToolTip(
        QStringLiteral("This will cause the modem to re-negotiate parameters between pages. On \nsome USR/3COM modems "
                       "this has been found to help prevent multi-page fax\nsession failures. (Note: this adds 2-3 "
                       "seconds per page faxing  time) "));
    layout->addWidget(RenegotiateBetween);
    addQuestion(layout, QStringLiteral("13. If the modem is not connected to a phone line which supplies a dial tone, "
                                       "check  Blind Dial.(This is the same as sending the ATX3 modem command)"));
    CheckBlindDial = checkBox(QStringLiteral("CheckBlindDial"), QStringLiteral("Blind Dial"));
    layout->addWidget(CheckBlindDial);
    addQuestion(layout,
                QStringLiteral("14. Check this box to ignore busy signals. In certain countries, some modems falsely "
                               "interpret the phone ringing as a busy signal. ONLY CHECK THIS BOX IF THIS SITUATION "
                               "APPLIES TO YOU! (This is the same as sending the ATX2 modem command)"));
    CheckIgnoreBusy = checkBox(QStringLiteral("CheckIgnoreBusy"), QStringLiteral("Ignore Busy Signal"));
    layout->addWidget(CheckIgnoreBusy);
    layout->addStretch();
    return page;
}

QWidget* TPreferences::buildReceiving1Page() {
    auto* page = new QWidget;
    auto* layout = pageLayout(page);
    addQuestion(layout, QStringLiteral("15. What fax class is best for your modem when RECEIVING faxes? We recommend "
                                       "Class 1, but if you have problems you can try any of the fax classes which "
                                       "your modem supports. (Click the Check Fax Class button for assistance.)"));
    auto* row = new QHBoxLayout;
    QStringList classes;
    for (const char* c : kClasses) classes << QString::fromLatin1(c);
    row->addWidget(radioGroup(this, QStringLiteral("Fax &class for RECEIVING Faxes"), QStringLiteral("FaxClassReceive"),
                              classes, 2, FaxClassReceive),
                   1);
    auto* classButtons = new QVBoxLayout;
    CheckRecFaxClassbutton = button(QStringLiteral("CheckRecFaxClassbutton"), QStringLiteral("Check Fax Class"));
    RecClassSameAsSendButton = button(QStringLiteral("RecClassSameAsSendButton"), QStringLiteral("Same as SEND"));
    classButtons->addWidget(CheckRecFaxClassbutton);
    classButtons->addWidget(RecClassSameAsSendButton);
    row->addLayout(classButtons);
    row->setAlignment(classButtons, Qt::AlignBottom);
    layout->addLayout(row);

    addQuestion(layout, QStringLiteral(
                            "16. What is the maximum Transfer Rate (BPS) for RECEIVING faxes? (Although many modems "
                            "support higher rates (12000 - 14400), we recommend 9600 for more reliable fax sessions "
                            "and higher quality faxes. The slightly lower baud rate makes line errors less likely)"));
    TransferRateReceive = rateList(QStringLiteral("TransferRateReceive"));
    auto* rateLabel = new QLabel(QStringLiteral("Transfer Rate (BPS) for RECEIVING faxes"));
    rateLabel->setBuddy(TransferRateReceive);
    RecBPSSameAsSendButton = button(QStringLiteral("RecBPSSameAsSendButton"), QStringLiteral("Same as SEND"));
    auto* rateRow = new QHBoxLayout;
    rateRow->addWidget(rateLabel);
    rateRow->addWidget(TransferRateReceive);
    rateRow->addWidget(RecBPSSameAsSendButton);
    rateRow->addStretch();
    layout->addLayout(rateRow);

    addQuestion(layout, QStringLiteral(
                            "17. Enter an additional modem initialization string for RECEIVING faxes. Click the Help "
                            "With Init Strings button below for additional help with initialization strings."));
    ModemInitReceive = lineEdit(QStringLiteral("ModemInitReceive"));
    ModemInitReceive->setToolTip(kInitHint);
    layout->addWidget(ModemInitReceive);
    auto* initRow = new QHBoxLayout;
    HelpWithInitRECButton = button(QStringLiteral("HelpWithInitRECButton"), QStringLiteral("Help With Init Strings"));
    RecInitSameAsSendButton = button(QStringLiteral("RecInitSameAsSendButton"), QStringLiteral("Same as SEND"));
    initRow->addWidget(HelpWithInitRECButton);
    initRow->addWidget(RecInitSameAsSendButton);
    initRow->addStretch();
    layout->addLayout(initRow);
    layout->addStretch();

    connect(CheckRecFaxClassbutton, &QPushButton::clicked, this, [this] { CheckFaxClassButtonClick(FaxClassReceive); });
    connect(RecClassSameAsSendButton, &QPushButton::clicked, this, [this] { RecClassSameAsSendButtonClick(); });
    connect(RecBPSSameAsSendButton, &QPushButton::clicked, this, [this] { RecBPSSameAsSendButtonClick(); });
    connect(RecInitSameAsSendButton, &QPushButton::clicked, this, [this] { RecInitSameAsSendButtonClick(); });
    connect(HelpWithInitRECButton, &QPushButton::clicked, this, [this] { HelpWithInitRECButtonClick(); });
    return page;
}

QWidget* TPreferences::buildReceiving2Page() {
    auto* page = new QWidget;
    auto* layout = pageLayout(page);
    addQuestion(layout, QStringLiteral("18. Select which ring the program should answer on, when in receive mode"));
    QStringList rings;
    for (int i = 1; i <= 8; ++i) rings << QString::number(i);
    QGroupBox* ringBox =
        radioGroup(this, QStringLiteral("Answer on ring"), QStringLiteral("AnswerOnRing"), rings, 8, AnswerOnRing);
    ringBox->setToolTip(
        QStringLiteral("Select which ring the program should answer on, when in receive mode\n\nIf you have this set "
                       "at 3 and you run into problems, reduce the\nsetting to 1 or 2."));
    layout->addWidget(ringBox);
    addQuestion(layout, QStringLiteral("19. Check this box to start receiving faxes as soon as the program starts up"));
    ReceiveAtStartup =
        checkBox(QStringLiteral("ReceiveAtStartup"), QStringLiteral("Start Receiving at program startup"));
    layout->addWidget(ReceiveAtStartup);
    addQuestion(layout, QStringLiteral("20. Some modems (VERY FEW) can use error control to detect and correct fax "
                                       "transmission errors. Would you like to try using Fax Error Control when "
                                       "RECEIVING faxes?"));
    UseECMReceive = checkBox(QStringLiteral("UseECMReceive"), QStringLiteral("Use Fax Error Control when RECEIVING"));
    UseECMReceive->setToolTip(QStringLiteral("Very few modems support fax error control (ECM).\nThe default is off."));
    layout->addWidget(UseECMReceive);
    layout->addStretch();
    return page;
}

QWidget* TPreferences::buildReceiving3Page() {
    auto* page = new QWidget;
    auto* layout = pageLayout(page);
    addQuestion(layout, QStringLiteral("21. If you would like an audible alert when receiving a fax, fill in the "
                                       "details below"));
    WaveFileEdit = lineEdit(QStringLiteral("WaveFileEdit"));
    auto* waveLabel = new QLabel(QStringLiteral("Select &WAV File to play when receiving a fax:"));
    waveLabel->setBuddy(WaveFileEdit);
    layout->addWidget(waveLabel);
    layout->addWidget(WaveFileEdit);
    auto* waveRow = new QHBoxLayout;
    SelectWavButton = button(QStringLiteral("SelectWavButton"), QStringLiteral("&Choose"));
    PlayWAVbutton = button(QStringLiteral("PlayWAVbutton"), QStringLiteral("Play &Now"));
    NoWAVButton = button(QStringLiteral("NoWAVButton"), QStringLiteral("None"));
    waveRow->addWidget(SelectWavButton);
    waveRow->addWidget(PlayWAVbutton);
    waveRow->addWidget(NoWAVButton);
    waveRow->addStretch();
    layout->addLayout(waveRow);

    addQuestion(layout, QStringLiteral("22. If you would like to print each fax as it is received, please check below, "
                                       "and then select the printer to send faxes to. (we recommend leaving it as the "
                                       "Default Windows Printer)"));
    PrintFaxOnReceipt = checkBox(QStringLiteral("PrintFaxOnReceipt"),
                                 QStringLiteral("Print each fax as it is received, on the following printer:"));
    PrintFaxOnReceipt->setToolTip(
        QStringLiteral("Received faxes are printed without headers or footers,\none fax page per printed page."));
    layout->addWidget(PrintFaxOnReceipt);
    PrintFaxOnReceiptPrinter = new QComboBox;
    PrintFaxOnReceiptPrinter->setObjectName(QStringLiteral("PrintFaxOnReceiptPrinter"));
    PrintFaxOnReceiptPrinter->setMinimumWidth(320);
    layout->addWidget(PrintFaxOnReceiptPrinter, 0, Qt::AlignLeft);

    addQuestion(layout,
                QStringLiteral("23. Disable the Receiving Faxes notification box when starting RECEIVE MODE. "));
    DisableReceivingFaxesNotification = checkBox(QStringLiteral("DisableReceivingFaxesNotification"),
                                                 QStringLiteral("Disable Receiving Faxes Notification Box"));
    layout->addWidget(DisableReceivingFaxesNotification);
    layout->addStretch();

    connect(SelectWavButton, &QPushButton::clicked, this, [this] { SelectWavButtonClick(); });
    connect(PlayWAVbutton, &QPushButton::clicked, this, [this] { PlayWAVbuttonClick(); });
    connect(NoWAVButton, &QPushButton::clicked, this, [this] { NoWAVButtonClick(); });
    return page;
}

QWidget* TPreferences::buildAdvancedPage() {
    auto* page = new QWidget;
    auto* layout = pageLayout(page);
    auto* warning = wrapped(
        QStringLiteral("WARNING: ONLY CHANGE THESE SETTINGS IF TECHNICAL SUPPORT TELLS YOU TO. THEY DEAL WITH SPECIFIC "
                       "HARDWARE OR SOFTWARE PROBLEMS."));
    warning->setObjectName(QStringLiteral("AdvancedWarning"));
    QFont bold = warning->font();
    bold.setBold(true);
    warning->setFont(bold);
    layout->addSpacing(6);
    layout->addWidget(warning);
    layout->addSpacing(10);
    ImposeWaitBeforePrinting =
        checkBox(QStringLiteral("ImposeWaitBeforePrinting"), QStringLiteral("RAGE MOBILITY Printing/Viewing Problems"));
    UseAltHeaderFont =
        checkBox(QStringLiteral("UseAltHeaderFont"),
                 QStringLiteral("Use alternate fax header font    (\"enhanced font is too large\" error)"));
    UseAlternateNameReceive = checkBox(QStringLiteral("UseAlternateNameReceive"),
                                       QStringLiteral("Use alternate naming method for incoming faxes"));
    UseLargerSendBuffer = checkBox(QStringLiteral("UseLargerSendBuffer"), QStringLiteral("Use larger send buffer"));
    UseLargerReceiveBuffer =
        checkBox(QStringLiteral("UseLargerReceiveBuffer"), QStringLiteral("Use larger receive buffer"));
    for (QCheckBox* box : {ImposeWaitBeforePrinting, UseAltHeaderFont, UseAlternateNameReceive, UseLargerSendBuffer,
                           UseLargerReceiveBuffer})
        layout->addWidget(box);
    layout->addStretch();
    return page;
}

// ---------------------------------------------------------------------------------------------

void TPreferences::LoadFromSettings(const Settings& s) {
    ports_ = s.Ports;
    setRadioIndex(ComPort, s.Modem.ComPort);
    for (int i = 0; i < kPortCount; ++i) {
        const QString device = qs(ports_[static_cast<std::size_t>(i)]);
        PortDeviceLabels[i]->setText(elided(PortDeviceLabels[i], device, PortDeviceLabels[i]->width()));
        PortDeviceLabels[i]->setToolTip(device);
    }
    showPortDevice();
    chkSM56->setChecked(s.Other.UseMotorolaSM56Fix);
    SpellLanguage->LoadFrom(s);
    setRadioIndex(ToneOrPulse, s.Dialing.ToneOrPulse);
    ResetString->setText(qs(s.Resetting.String));
    ResetAfterString->setText(qs(s.Resetting.AfterString));

    setRadioIndex(FaxClass, s.Modem.FaxClass);
    TransferRate->setCurrentIndex(IndexFromSpeed(s.Modem.MaximumBPS));
    ModemInit->setText(qs(s.Modem.InitString));

    Name->setText(qs(s.User.Name));
    FaxNumber->setText(qs(s.User.Fax));
    UseECM->setChecked(s.Dialing.ECM);
    DialPrefix->setText(qs(s.Dialing.DialPrefix));
    DialSuffix->setText(qs(s.Dialing.DialSuffix));

    DialAttempts->setText(QString::number(s.Dialing.DialAttempts));
    RetryWait->setText(QString::number(s.Dialing.RetryWait));
    RenegotiateBetween->setChecked(s.Modem.RenegotiateBetween);
    CheckBlindDial->setChecked(s.Dialing.BlindDial);
    CheckIgnoreBusy->setChecked(s.Dialing.IgnoreBusy);

    setRadioIndex(FaxClassReceive, s.Modem.FaxClassReceive);
    TransferRateReceive->setCurrentIndex(IndexFromSpeed(s.Modem.MaximumBPSReceive));
    ModemInitReceive->setText(qs(s.Modem.InitStringReceive));

    setRadioIndex(AnswerOnRing, s.Receive.AnswerOnRing - 1);
    ReceiveAtStartup->setChecked(s.Receive.AtStartup);
    UseECMReceive->setChecked(s.Receive.ECMReceive);

    WaveFileEdit->setText(qs(s.Receive.Wav));
    PrintFaxOnReceipt->setChecked(s.Receive.PrintOnReceipt);
    const int printer = PrintFaxOnReceiptPrinter->findText(qs(s.Receive.PrintOnReceiptPrinter), Qt::MatchExactly);
    PrintFaxOnReceiptPrinter->setCurrentIndex(printer >= 0 ? printer : 0);
    DisableReceivingFaxesNotification->setChecked(s.Receive.DisableReceivingFaxesNotification);

    ImposeWaitBeforePrinting->setChecked(s.Other.ImposeWaitBeforePrinting);
    UseAltHeaderFont->setChecked(s.Other.UseAlternateHeaderFont);
    UseAlternateNameReceive->setChecked(s.Other.GlobalUseAlternateNamingRec);
    UseLargerSendBuffer->setChecked(s.Other.GlobalLargerSendBuffer);
    UseLargerReceiveBuffer->setChecked(s.Other.GlobalLargerReceiveBuffer);
}

bool TPreferences::StoreInto(Settings& s, QString& error, QLineEdit*& badField) const {
    const std::optional<int> attempts = ParseWholeNumber(DialAttempts->text());
    const std::optional<int> wait = ParseWholeNumber(RetryWait->text());
    if (!attempts || !wait) {
        badField = attempts ? RetryWait : DialAttempts;
        const QString what = attempts ? QStringLiteral("the number of seconds between dial attempts (question 11)")
                                      : QStringLiteral("the number of dial attempts (question 10)");
        error = QStringLiteral("'") + badField->text() + QStringLiteral("' is not a valid integer value for ") + what +
                QStringLiteral(".\r\rPlease enter a whole number. Your preferences have not been saved.");
        return false;
    }
    Settings out = s;
    out.Modem.ComPort = ComPort->checkedId();
    out.Ports = ports_;
    for (std::size_t i = 0; i < out.Ports.size(); ++i)
        if (out.Ports[i].empty()) out.Ports[i] = Settings::defaultPorts()[i];
    out.Other.UseMotorolaSM56Fix = chkSM56->isChecked();
    out.Dialing.ToneOrPulse = ToneOrPulse->checkedId();
    out.Resetting.String = ss(ResetString->text());
    out.Resetting.AfterString = ss(ResetAfterString->text());

    out.Modem.FaxClass = FaxClass->checkedId();
    out.Modem.MaximumBPS = SpeedFromIndex(TransferRate->currentIndex());
    out.Modem.InitString = ss(ModemInit->text());

    out.User.Name = ss(Name->text());
    out.User.Fax = ss(FaxNumber->text());
    out.Dialing.ECM = UseECM->isChecked();
    out.Dialing.DialPrefix = ss(DialPrefix->text());
    out.Dialing.DialSuffix = ss(DialSuffix->text());

    out.Dialing.DialAttempts = *attempts;
    out.Dialing.RetryWait = *wait;
    out.Modem.RenegotiateBetween = RenegotiateBetween->isChecked();
    out.Dialing.BlindDial = CheckBlindDial->isChecked();
    out.Dialing.IgnoreBusy = CheckIgnoreBusy->isChecked();

    out.Modem.FaxClassReceive = FaxClassReceive->checkedId();
    out.Modem.MaximumBPSReceive = SpeedFromIndex(TransferRateReceive->currentIndex());
    out.Modem.InitStringReceive = ss(ModemInitReceive->text());

    out.Receive.AnswerOnRing = AnswerOnRing->checkedId() + 1;
    out.Receive.AtStartup = ReceiveAtStartup->isChecked();
    out.Receive.ECMReceive = UseECMReceive->isChecked();

    out.Receive.Wav = ss(WaveFileEdit->text());
    out.Receive.PrintOnReceipt = PrintFaxOnReceipt->isChecked();
    out.Receive.PrintOnReceiptPrinter = ss(PrintFaxOnReceiptPrinter->currentText());
    out.Receive.DisableReceivingFaxesNotification = DisableReceivingFaxesNotification->isChecked();

    out.Other.ImposeWaitBeforePrinting = ImposeWaitBeforePrinting->isChecked();
    out.Other.UseAlternateHeaderFont = UseAltHeaderFont->isChecked();
    out.Other.GlobalUseAlternateNamingRec = UseAlternateNameReceive->isChecked();
    out.Other.GlobalLargerSendBuffer = UseLargerSendBuffer->isChecked();
    out.Other.GlobalLargerReceiveBuffer = UseLargerReceiveBuffer->isChecked();
    s = out;
    return true;
}

// ---------------------------------------------------------------------------------------------

void TPreferences::setFirstTimeMode(bool on) {
    firstTime_ = on;
    FirstTimeLabel->setVisible(on);
    SetButtons();
}

int TPreferences::currentPage() const { return Pages->currentIndex(); }

void TPreferences::showPage(int page) {
    if (page < 0 || page >= PageCount) return;
    Pages->setCurrentIndex(page);
    SetButtons();
}

int TPreferences::HelpContextForPage(int page) {
    switch (page) {
    case WizardInformation: return 1022;
    case ModemAndPort: return 3501;
    case Sending1:
    case Sending2:
    case Sending3: return 3502;
    case Receiving1:
    case Receiving2:
    case Receiving3: return 3503;
    default: return 0;
    }
}

void TPreferences::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    FormActivate();
}

void TPreferences::FormActivate() {
    FirstTimeLabel->setVisible(firstTime_);
    SetButtons();
}

void TPreferences::SetButtons() {
    const int page = currentPage();
    BackButton->setEnabled(page > 0);
    Nextbutton->setEnabled(page < PageCount - 1);
    Finishbutton->setEnabled(!firstTime_ || page == PageCount - 1);
    PageCombo->setCurrentIndex(page);
    PageLabel->setText(PageCombo->itemText(page));
    // The "Advanced" page has no help topic.
    Helpbutton->setEnabled(HelpContextForPage(page) != 0);
}

void TPreferences::BackButtonClick() {
    if (currentPage() > 0) showPage(currentPage() - 1);
}

void TPreferences::NextbuttonClick() {
    if (currentPage() < PageCount - 1) showPage(currentPage() + 1);
}

void TPreferences::PageComboClick(int index) { showPage(index); }

void TPreferences::FinishbuttonClick() {
    if (!AskYesNo(QStringLiteral("Save changes?"), QStringLiteral("Save Preferences"))) return;
    Settings& s = AppSettings();
    QString error;
    QLineEdit* bad = nullptr;
    if (!StoreInto(s, error, bad)) {
        ShowInformation(error);
        showPage(Sending3);
        bad->setFocus();
        bad->selectAll();
        return;
    }
    MotorolaSM56Active() = s.Other.UseMotorolaSM56Fix;
    SpellLanguage->StoreInto(s);
    SaveSettings();
    accept();
}

void TPreferences::CancelbuttonClick() { reject(); }

void TPreferences::HelpButtonClick() {
    const int context = HelpContextForPage(currentPage());
    if (context != 0) ShowHelp(context);
}

void TPreferences::ProblemSolverButtonClick() { ShowProblemSolver(); }

int TPreferences::selectedPort() const { return ComPort->checkedId() < 0 ? 0 : ComPort->checkedId(); }

void TPreferences::showPortDevice() {
    const QString device = qs(ports_[static_cast<std::size_t>(selectedPort())]);
    const QSignalBlocker block(PortDevice);
    PortDevice->setEditText(device);
}

void TPreferences::portDeviceEdited(const QString& text) {
    const int port = selectedPort();
    ports_[static_cast<std::size_t>(port)] = ss(text.trimmed());
    const QString shown =
        text.trimmed().isEmpty() ? qs(Settings::defaultPorts()[static_cast<std::size_t>(port)]) : text.trimmed();
    PortDeviceLabels[port]->setText(elided(PortDeviceLabels[port], shown, PortDeviceLabels[port]->width()));
    PortDeviceLabels[port]->setToolTip(shown);
}

void TPreferences::FindModemButtonClick() {
    int found = -1;
    {
        const PortMapOverride map(ports_);
        TFindModemForm finder(OvxComPort1, this);
        finder.adjustSize();
        CenterDialog(&finder);
        KeepOnScreen(&finder);
        finder.exec();
        found = finder.Result();
        const int selected = ComPort->checkedId();
        AssignPort(OvxComPort1, selected + 1 > 0 ? selected + 1 : 1);
    }
    const int selected = ComPort->checkedId();
    const int chosen = OfferFoundPort(found, selected);
    if (chosen != selected) setRadioIndex(ComPort, chosen);
}

void TPreferences::CheckFaxClassButtonClick(QButtonGroup* target) {
    int index = -1;
    QString name;
    {
        const PortMapOverride map(ports_);
        TCheckFaxClassForm check(OvxComPort1, OvxSendFax1, selectedPort() + 1, this);
        check.adjustSize();
        CenterDialog(&check);
        KeepOnScreen(&check);
        check.exec();
        index = check.ResultIndex();
        name = check.ResultName();
    }
    if (index >= 0 && index + 1 != target->checkedId() &&
        AskYesNo(QStringLiteral("Set fax class as ") + name + QStringLiteral(" ?"), QStringLiteral("Fax Class")))
        setRadioIndex(target, index + 1);
}

void TPreferences::RecClassSameAsSendButtonClick() { setRadioIndex(FaxClassReceive, FaxClass->checkedId()); }

void TPreferences::RecBPSSameAsSendButtonClick() { TransferRateReceive->setCurrentIndex(TransferRate->currentIndex()); }

void TPreferences::RecInitSameAsSendButtonClick() { ModemInitReceive->setText(ModemInit->text()); }

void TPreferences::HelpWithInitbuttonClick() {
    ModemInit->setText(ModemInitStringHelper(ModemInit->text(), true, this));
}

void TPreferences::HelpWithInitRECButtonClick() {
    ModemInitReceive->setText(ModemInitStringHelper(ModemInitReceive->text(), false, this));
}

QString TPreferences::wavePath() const {
    QString path = WaveFileEdit->text().trimmed();
    if (!path.isEmpty() && QFileInfo(path).isRelative()) path = qs(ProgramDir()) + path;
    return path;
}

void TPreferences::SelectWavButtonClick() {
    QFileDialog dialog(this, QStringLiteral("Select WAV File"), qs(ProgramDir()), QStringLiteral("WAVE files (*.wav)"));
    dialog.setObjectName(QStringLiteral("OpenDialog1"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    const QString current = wavePath();
    if (!current.isEmpty() && QFileInfo(current).isFile()) {
        dialog.setDirectory(QFileInfo(current).absolutePath());
        dialog.selectFile(QFileInfo(current).fileName());
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    const QString chosen = dialog.selectedFiles().constFirst();
    if (chosen.toUpper().contains(QStringLiteral(".WAV"))) WaveFileEdit->setText(QDir::toNativeSeparators(chosen));
}

bool TPreferences::PlayWAVbuttonClick() {
    const QString path = wavePath();
    if (path.isEmpty() || !QFileInfo(path).isFile()) return false;
#ifdef TELVANE_HAVE_MULTIMEDIA
    // Played in the background; a file the system cannot play stays silent.
    if (!sound_) sound_ = new QSoundEffect(this);
    sound_->stop();
    sound_->setSource(QUrl::fromLocalFile(path));
    sound_->play();
    return true;
#else
    return false;
#endif
}

void TPreferences::NoWAVButtonClick() { WaveFileEdit->clear(); }

void TPreferences::chkSM56Click() { MotorolaSM56Active() = chkSM56->isChecked(); }

// ---------------------------------------------------------------------------------------------

bool RunPreferences(QWidget* parent) {
    TPreferences form(parent);
    form.setFirstTimeMode(FirstRunSetupPending());
    FirstRunSetupPending() = false;
    form.LoadFromSettings(AppSettings());
    form.adjustSize();
    CenterDialog(&form);
    KeepOnScreen(&form);
    return form.exec() == QDialog::Accepted;
}

}  // namespace telvane::sessions
