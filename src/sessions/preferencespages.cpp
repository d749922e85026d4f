// The nine pages of the preferences wizard (see preferences.h): their questions and controls, and
// the wiring of the controls to the wizard's handlers.
#include "sessions/preferences.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFont>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "sessions/formparts.h"
#include "sessions/sessionrules.h"
#include "sessions/spelllanguagechoice.h"
#include "sessions/systemlists.h"

namespace telvane::sessions {

namespace {

const char* const kRates[] = {"2400", "4800", "7200", "9600", "12000", "14400"};
const char* const kClasses[] = {"auto detect", "class 1", "class 2", "class 2.0"};

const QString kInitHint = QStringLiteral(
    "If you use an init string here, it will be sent just \nbefore the default init: \n\n('ATE0Q0V1X4S0=0'). "
    "\n\nThe init string should not contain an 'AT' prefix.");

QStringList classNames() {
    QStringList names;
    for (const char* c : kClasses) names << QString::fromLatin1(c);
    return names;
}

QComboBox* rateList(const QString& name) {
    auto* combo = new QComboBox;
    combo->setObjectName(name);
    for (const char* rate : kRates) combo->addItem(QString::fromLatin1(rate));
    return combo;
}

}  // namespace

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
    addQuestion(layout, QString::fromLatin1(kPortQuestion));
    layout->addWidget(buildPortGroup());
    layout->addLayout(buildDeviceRow());
    auto* findRow = new QHBoxLayout;
    FindModemButton = button(QStringLiteral("FindModemButton"), QStringLiteral("Find &Modem Port"));
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

// The six port numbers, each with the device it maps to under it.
QGroupBox* TPreferences::buildPortGroup() {
    auto* portBox = new QGroupBox(QStringLiteral("Port"));
    portBox->setObjectName(QStringLiteral("ComPort"));
    auto* grid = new QGridLayout(portBox);
    ComPort = new QButtonGroup(this);
    ComPort->setObjectName(QStringLiteral("ComPort"));
    for (int i = 0; i < ports::kPortCount; ++i) {
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
    return portBox;
}

// The device of the selected port: picked from the serial devices present, or typed.
QHBoxLayout* TPreferences::buildDeviceRow() { return portDeviceRow(PortDevice); }

QWidget* TPreferences::buildSending1Page() {
    auto* page = new QWidget;
    auto* layout = pageLayout(page);
    addQuestion(layout,
                QStringLiteral("4. What fax class is best for your modem when SENDING faxes? We recommend Class "
                               "1, but if you have problems you can try any of the fax classes which your "
                               "modem supports. (Click the Check Fax Class button for assistance.)"));
    auto* row = new QHBoxLayout;
    row->addWidget(radioGroup(this, QStringLiteral("Fax &class for SENDING Faxes"), QStringLiteral("FaxClass"),
                              classNames(), 2, FaxClass),
                   1);
    CheckFaxClassButton = button(QStringLiteral("CheckFaxClassButton"), QStringLiteral("Chec&k Fax Class"));
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
    HelpWithInitbutton = button(QStringLiteral("HelpWithInitbutton"), QStringLiteral("Help with &Init Strings"));
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
    addCaptionedEdit(layout, QStringLiteral("Your na&me"), Name);
    addCaptionedEdit(layout, QStringLiteral("Your fa&x number (Station ID#)"), FaxNumber);

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
    addCaptionedEdit(layout, QStringLiteral("Dial &suffix or access code:"), DialSuffix,
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
    row->addWidget(radioGroup(this, QStringLiteral("Fax &class for RECEIVING Faxes"), QStringLiteral("FaxClassReceive"),
                              classNames(), 2, FaxClassReceive),
                   1);
    auto* classButtons = new QVBoxLayout;
    CheckRecFaxClassbutton = button(QStringLiteral("CheckRecFaxClassbutton"), QStringLiteral("Chec&k Fax Class"));
    RecClassSameAsSendButton = button(QStringLiteral("RecClassSameAsSendButton"), QStringLiteral("&Same as SEND"));
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
    RecBPSSameAsSendButton = button(QStringLiteral("RecBPSSameAsSendButton"), QStringLiteral("Same &as SEND"));
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
    HelpWithInitRECButton = button(QStringLiteral("HelpWithInitRECButton"), QStringLiteral("Help With &Init Strings"));
    RecInitSameAsSendButton = button(QStringLiteral("RecInitSameAsSendButton"), QStringLiteral("Same as S&END"));
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
    PlayWAVbutton = button(QStringLiteral("PlayWAVbutton"), QStringLiteral("&Play Now"));
    NoWAVButton = button(QStringLiteral("NoWAVButton"), QStringLiteral("N&one"));
    waveRow->addWidget(SelectWavButton);
    waveRow->addWidget(PlayWAVbutton);
    waveRow->addWidget(NoWAVButton);
    waveRow->addStretch();
    layout->addLayout(waveRow);

    addQuestion(layout, QStringLiteral("22. If you would like to print each fax as it is received, please check below, "
                                       "and then select the printer to send faxes to. (we recommend leaving it as the "
                                       "system's default printer)"));
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
    ImposeWaitBeforePrinting = checkBox(QStringLiteral("ImposeWaitBeforePrinting"),
                                        QStringLiteral("Wait before printing or viewing (for slow graphics drivers)"));
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

}  // namespace telvane::sessions
