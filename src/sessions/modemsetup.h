// Setting the modem up: TFindModemForm scans the six mapped ports for a modem, TCheckFaxClassForm
// asks one port's modem which fax classes it supports and recommends one, and TQuickSetupForm is
// the first-start form (port, name, fax number, the SM56 box) with its "Find Modem Port" button.
// Guarantees: every failure is reported in the window itself and leaves the result at -1; each
// port is closed before the next is opened and at the end of every run; the quick set-up saves
// the settings only on "Ok".
#pragma once

#include <QDialog>

#include <array>
#include <string>

#include "transport/comport.h"
#include "transport/fax/faxsession.h"
#include "app/appstate.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace telvane::sessions {

class TFindModemForm : public QDialog {
    Q_OBJECT
public:
    explicit TFindModemForm(telvane::transport::TOvxComPort& port, QWidget* parent = nullptr);
    void FormActivate();
    void OkButtonClick() { accept(); }
    // The first port (1..6) on which a modem answered, or -1.
    int outcome() const { return result_; }

    QLabel* Label8;
    QLabel* PortLabels[6];
    QLabel* DeviceLabels[6];
    QLabel* Label7;
    QPushButton* OkButton;

protected:
    void showEvent(QShowEvent* event) override;

private:
    telvane::transport::TOvxComPort& port_;
    int result_ = -1;
    bool running_ = false;
    bool activated_ = false;
};

class TCheckFaxClassForm : public QDialog {
    Q_OBJECT
public:
    TCheckFaxClassForm(telvane::transport::TOvxComPort& port, telvane::transport::TOvxCustomSendFax& sendFax,
                       int comNumber, QWidget* parent = nullptr);
    void CheckTheFaxClasses();
    // "OK", or the failure text.
    QString DetermineFaxClassSupport();
    void OkButtonClick() { accept(); }
    // 0 Class 1, 1 Class 2, 2 Class 2.0, -1 none; and its name.
    int resultIndex() const { return resultIndex_; }
    const QString& resultName() const { return resultName_; }

    QLabel *Label8, *Label1, *Label2, *Label3, *Status;
    QPushButton* OkButton;
    bool Class1 = false, Class2 = false, Class2_0 = false;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void labelsUnknown();
    // The steps of CheckTheFaxClasses. modemReady opens the port and resets the modem; on false
    // Status says why.
    void runClassCheck();
    bool modemReady();
    void showClassResults();
    telvane::transport::TOvxComPort& port_;
    telvane::transport::TOvxCustomSendFax& sendFax_;
    int comNumber_;
    int resultIndex_ = -1;
    QString resultName_;
    bool running_ = false;
    bool activated_ = false;
};

class TQuickSetupForm : public QDialog {
    Q_OBJECT
public:
    explicit TQuickSetupForm(QWidget* parent = nullptr);
    void FindModemButtonClick();
    void chkSM56Click();
    int selectedPort() const;
    void selectPort(int index);
    // The device of each port as shown and edited here (starts as the settings' map).
    void setPortDevices(const std::array<std::string, ports::kPortCount>& devices);
    const std::array<std::string, ports::kPortCount>& portDevices() const { return ports_; }

    QButtonGroup* ComPort;
    // The device of the selected port: typed, or picked from the serial devices found.
    QComboBox* PortDevice;
    QPushButton* FindModemButton;
    QLineEdit *Name, *FaxNumber;
    QCheckBox* chkSM56;
    QPushButton *Finishbutton, *Cancelbutton;
    telvane::transport::TOvxComPort OvxComPort1;

private:
    void showPortDevice();
    void portDeviceEdited(const QString& text);

    std::array<std::string, ports::kPortCount> ports_ = ports::defaultPortMap();
};

// The settings' port map stands in for a window's own, unsaved one (the wizard's, Quick Setup's)
// while the windows that look devices up there (find modem, class check) run.
class PortMapOverride {
public:
    explicit PortMapOverride(const std::array<std::string, ports::kPortCount>& ports)
        : saved_(app::appSettings().Ports) {
        app::appSettings().Ports = ports;
    }
    ~PortMapOverride() { app::appSettings().Ports = saved_; }

private:
    std::array<std::string, ports::kPortCount> saved_;
};

// After the find-modem window: offers the port found when it differs from `selected` (0-based);
// returns the port index to select.
int offerFoundPort(int found, int selected);

// Runs the quick set-up; true when the settings were saved.
bool runQuickSetup(QWidget* parent);

// The run-time copy of the Motorola SM56 flag.
bool& motorolaSM56Active();

}  // namespace telvane::sessions
