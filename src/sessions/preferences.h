// The preferences wizard TPreferences: nine pages of questions on the modem, sending and
// receiving, walked with "< Back" / "Next >" or picked from PageCombo. It copies the settings into
// its controls when it opens and writes every control back, and saves the settings file, only on
// "&Finish" answered Yes to "Save changes?". The port page also shows the device each port number
// maps to (section Ports) and lets the user pick another one from the serial devices present.
// Guarantees: "Cance&l" (or closing the window) leaves the settings untouched, except the run-time
// SM56 flag that its check box sets at once; a dial-attempts or retry-wait text that is not a whole
// number is named in a message and nothing at all is copied or saved (the wizard stays open on
// that field with every edit kept); in first-time mode "&Finish" is enabled on the last page only.
#pragma once

#include <QDialog>

#include <array>
#include <optional>
#include <string>

#include "transport/comport.h"
#include "transport/fax/faxsession.h"
#include "settings/settings.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QSoundEffect;
class QStackedWidget;

namespace telvane::sessions {

class SpellLanguageChoice;

// A whole number as typed (blanks around it allowed); nullopt otherwise.
std::optional<int> parseWholeNumber(const QString& text);

class TPreferences : public QDialog {
    Q_OBJECT
public:
    enum Page {
        WizardInformation,
        ModemAndPort,
        Sending1,
        Sending2,
        Sending3,
        Receiving1,
        Receiving2,
        Receiving3,
        Advanced,
        PageCount
    };

    explicit TPreferences(QWidget* parent = nullptr);
    ~TPreferences() override;

    // Every control gets its setting (also the port-to-device map).
    void loadFromSettings(const settings::Settings& s);
    // Copies every control into `s`. When a number does not read, `s` is left untouched, `error`
    // names the field, `badField` is that edit, and the result is false.
    bool storeInto(settings::Settings& s, QString& error, QLineEdit*& badField) const;

    void setFirstTimeMode(bool on);
    bool firstTimeMode() const { return firstTime_; }
    int currentPage() const;
    void showPage(int page);
    // Help context of a page; 0 for none.
    static int helpContextForPage(int page);

    void FormActivate();
    void SetButtons();
    void BackButtonClick();
    void NextbuttonClick();
    void PageComboClick(int index);
    void FinishbuttonClick();
    void CancelbuttonClick();
    void HelpButtonClick();
    void ProblemSolverButtonClick();
    void FindModemButtonClick();
    // Runs the class check for the selected (unsaved) port and offers the recommendation for
    // `target`: the sending group for the sending page's button, the receiving group for the other.
    void CheckFaxClassButtonClick(QButtonGroup* target);
    void RecClassSameAsSendButtonClick();
    void RecBPSSameAsSendButtonClick();
    void RecInitSameAsSendButtonClick();
    void HelpWithInitbuttonClick();
    void HelpWithInitRECButtonClick();
    void SelectWavButtonClick();
    // Starts playing the named file; false (and nothing else) when it does not exist.
    bool PlayWAVbuttonClick();
    void NoWAVButtonClick();
    void chkSM56Click();

    // The port index selected in ComPort (0 = COM1), 0 when none is.
    int selectedPort() const;
    const std::array<std::string, ports::kPortCount>& portDevices() const { return ports_; }

    // Top and bottom.
    QComboBox* PageCombo;
    QLabel* PageLabel;
    QStackedWidget* Pages;
    QPushButton *Helpbutton, *ProblemSolverButton, *Cancelbutton, *BackButton, *Nextbutton, *Finishbutton;
    // Page 0.
    QLabel* FirstTimeLabel;
    SpellLanguageChoice* SpellLanguage;
    // Page 1.
    QButtonGroup* ComPort;
    QLabel* PortDeviceLabels[ports::kPortCount];
    QComboBox* PortDevice;
    QPushButton* FindModemButton;
    QCheckBox* chkSM56;
    QButtonGroup* ToneOrPulse;
    QLineEdit *ResetString, *ResetAfterString;
    // Page 2.
    QButtonGroup* FaxClass;
    QPushButton* CheckFaxClassButton;
    QComboBox* TransferRate;
    QLineEdit* ModemInit;
    QPushButton* HelpWithInitbutton;
    // Page 3.
    QLineEdit *Name, *FaxNumber;
    QCheckBox* UseECM;
    QLineEdit *DialPrefix, *DialSuffix;
    // Page 4.
    QLineEdit *DialAttempts, *RetryWait;
    QCheckBox *RenegotiateBetween, *CheckBlindDial, *CheckIgnoreBusy;
    // Page 5.
    QButtonGroup* FaxClassReceive;
    QPushButton *CheckRecFaxClassbutton, *RecClassSameAsSendButton;
    QComboBox* TransferRateReceive;
    QPushButton* RecBPSSameAsSendButton;
    QLineEdit* ModemInitReceive;
    QPushButton *HelpWithInitRECButton, *RecInitSameAsSendButton;
    // Page 6.
    QButtonGroup* AnswerOnRing;
    QCheckBox *ReceiveAtStartup, *UseECMReceive;
    // Page 7.
    QLineEdit* WaveFileEdit;
    QPushButton *SelectWavButton, *PlayWAVbutton, *NoWAVButton;
    QCheckBox* PrintFaxOnReceipt;
    QComboBox* PrintFaxOnReceiptPrinter;
    QCheckBox* DisableReceivingFaxesNotification;
    // Page 8.
    QCheckBox *ImposeWaitBeforePrinting, *UseAltHeaderFont, *UseAlternateNameReceive, *UseLargerSendBuffer,
        *UseLargerReceiveBuffer;

    telvane::transport::TOvxComPort OvxComPort1;
    telvane::transport::TOvxSendFax OvxSendFax1;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FormCreate();
    QHBoxLayout* buildTitleRow();
    QHBoxLayout* buildButtonRow();
    void prepareComponents();
    QWidget* buildInformationPage();
    QWidget* buildPortPage();
    QGroupBox* buildPortGroup();
    QHBoxLayout* buildDeviceRow();
    QWidget* buildSending1Page();
    QWidget* buildSending2Page();
    QWidget* buildSending3Page();
    QWidget* buildReceiving1Page();
    QWidget* buildReceiving2Page();
    QWidget* buildReceiving3Page();
    QWidget* buildAdvancedPage();
    void showPortDevice();
    void portDeviceEdited(const QString& text);
    QString wavePath() const;

    bool firstTime_ = false;
    std::array<std::string, ports::kPortCount> ports_ = ports::defaultPortMap();
    QSoundEffect* sound_ = nullptr;
};

// Runs the wizard (taking over the first-run setup pending flag as first-time mode); true when
// it closed with "&Finish" and the settings were taken over and saved.
bool runPreferences(QWidget* parent);

}  // namespace telvane::sessions
