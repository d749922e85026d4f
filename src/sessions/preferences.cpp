// The preferences wizard's frame (see preferences.h): title, pages and buttons, walking the pages,
// Finish, Cancel and Help, and running the wizard. The pages are built in preferencespages.cpp,
// their buttons act in preferencesactions.cpp and the settings go in and out in
// preferencessettings.cpp.
#include "sessions/preferences.h"

#include <QComboBox>
#include <QFont>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "sessions/faxwindows.h"
#include "sessions/formparts.h"
#include "sessions/modemcommands.h"
#include "sessions/modemsetup.h"
#include "sessions/spelllanguagechoice.h"
#include "sessions/systemlists.h"
#include "app/appstate.h"
#include "app/helpwindow.h"
#include "app/uihelpers.h"

namespace telvane::sessions {

namespace {

constexpr int kWizardWidth = 700;
constexpr int kPageHeight = 450;

const char* const kPageTitles[TPreferences::PageCount] = {
    "Wizard Information",       "Modem and Communications Port", "Sending Faxes - Part 1",
    "Sending Faxes - Part 2",   "Sending Faxes - Part 3",        "Receiving Faxes - Part 1",
    "Receiving Faxes - Part 2", "Receiving Faxes - Part 3",      "Advanced"};

QFrame* horizontalRule() {
    auto* rule = new QFrame;
    rule->setFrameShape(QFrame::HLine);
    rule->setFrameShadow(QFrame::Sunken);
    return rule;
}

}  // namespace

TPreferences::TPreferences(QWidget* parent) : QDialog(parent) { FormCreate(); }

TPreferences::~TPreferences() { closePort(OvxComPort1); }

void TPreferences::FormCreate() {
    setObjectName(QStringLiteral("TPreferences"));
    setWindowTitle(QStringLiteral("Preferences Wizard"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    auto* outer = new QVBoxLayout(this);
    outer->addLayout(buildTitleRow());
    outer->addWidget(horizontalRule());
    Pages = new QStackedWidget;
    for (QWidget* page :
         {buildInformationPage(), buildPortPage(), buildSending1Page(), buildSending2Page(), buildSending3Page(),
          buildReceiving1Page(), buildReceiving2Page(), buildReceiving3Page(), buildAdvancedPage()})
        Pages->addWidget(page);
    Pages->setFixedHeight(kPageHeight);
    outer->addWidget(Pages, 1);
    outer->addWidget(horizontalRule());
    outer->addLayout(buildButtonRow());
    setFixedWidth(kWizardWidth);

    // The printers installed, behind the entry that stands for the system's default printer.
    PrintFaxOnReceiptPrinter->addItems(printerNameSource()());
    PrintFaxOnReceiptPrinter->insertItem(0, QString::fromLatin1(settings::kDefaultPrinterCaption));
    prepareComponents();
    showPage(WizardInformation);
}

// The page's title and the list of pages to jump to.
QHBoxLayout* TPreferences::buildTitleRow() {
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
    connect(PageCombo, &QComboBox::activated, this, [this](int index) { PageComboClick(index); });
    return top;
}

// Help, Technical Help, Cancel, Back, Next and Finish.
QHBoxLayout* TPreferences::buildButtonRow() {
    auto* bottom = new QHBoxLayout;
    Helpbutton = button(QStringLiteral("Helpbutton"), QStringLiteral("&Help"));
    ProblemSolverButton = button(QStringLiteral("ProblemSolverButton"), QStringLiteral("&Technical Help"));
    Cancelbutton = button(QStringLiteral("Cancelbutton"), QStringLiteral("Cance&l"));
    BackButton = button(QStringLiteral("BackButton"), QStringLiteral("< &Back"));
    Nextbutton = button(QStringLiteral("Nextbutton"), QStringLiteral("&Next >"));
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
    connect(BackButton, &QPushButton::clicked, this, [this] { BackButtonClick(); });
    connect(Nextbutton, &QPushButton::clicked, this, [this] { NextbuttonClick(); });
    connect(Finishbutton, &QPushButton::clicked, this, [this] { FinishbuttonClick(); });
    connect(Cancelbutton, &QPushButton::clicked, this, [this] { CancelbuttonClick(); });
    connect(Helpbutton, &QPushButton::clicked, this, [this] { HelpButtonClick(); });
    connect(ProblemSolverButton, &QPushButton::clicked, this, [this] { ProblemSolverButtonClick(); });

    return bottom;
}

// The port and send components lent to the find-modem and class-check windows.
void TPreferences::prepareComponents() {
    OvxComPort1.setComNumber(1);
    OvxComPort1.setInSize(8192);
    OvxComPort1.setOutSize(8192);
    OvxComPort1.setAutoOpen(false);
    OvxComPort1.setPromptForPort(false);
    OvxComPort1.setHWFlowOptions(telvane::transport::hwfUseRTS | telvane::transport::hwfRequireCTS);
    OvxComPort1.setBufferFull(7372);
    OvxComPort1.setBufferResume(819);
    OvxComPort1.setTraceSize(32000);
    OvxComPort1.setTraceName("OVEX.TRC");
    OvxComPort1.setLogName("OVEX.LOG");
    OvxComPort1.setTapiMode(telvane::transport::tmOff);
    OvxSendFax1.setComPort(&OvxComPort1);
    OvxSendFax1.setFaxClass(telvane::transport::fcUnknown);
    OvxSendFax1.FaxFileExt = "OVF";
    OvxSendFax1.EnhTextEnabled = false;
}

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

int TPreferences::helpContextForPage(int page) {
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
    Helpbutton->setEnabled(helpContextForPage(page) != 0);
}

void TPreferences::BackButtonClick() {
    if (currentPage() > 0) showPage(currentPage() - 1);
}

void TPreferences::NextbuttonClick() {
    if (currentPage() < PageCount - 1) showPage(currentPage() + 1);
}

void TPreferences::PageComboClick(int index) { showPage(index); }

void TPreferences::FinishbuttonClick() {
    if (!app::AskYesNo(QStringLiteral("Save changes?"), QStringLiteral("Save Preferences"))) return;
    settings::Settings& s = app::appSettings();
    QString error;
    QLineEdit* bad = nullptr;
    if (!storeInto(s, error, bad)) {
        app::ShowInformation(error);
        showPage(Sending3);
        bad->setFocus();
        bad->selectAll();
        return;
    }
    motorolaSM56Active() = s.Other.UseMotorolaSM56Fix;
    SpellLanguage->storeInto(s);
    app::saveSettings();
    accept();
}

void TPreferences::CancelbuttonClick() { reject(); }

void TPreferences::HelpButtonClick() {
    const int context = helpContextForPage(currentPage());
    if (context != 0) app::showHelp(context);
}

void TPreferences::ProblemSolverButtonClick() { ShowProblemSolver(); }

bool runPreferences(QWidget* parent) {
    TPreferences form(parent);
    form.setFirstTimeMode(app::firstRunSetupPending());
    app::firstRunSetupPending() = false;
    form.loadFromSettings(app::appSettings());
    form.adjustSize();
    app::centerDialog(&form);
    keepOnScreen(&form);
    return form.exec() == QDialog::Accepted;
}

}  // namespace telvane::sessions
