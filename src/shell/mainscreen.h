// The main window of the program.
#pragma once

#include <QMainWindow>

namespace telvane {

class TMainScreen : public QMainWindow {
    Q_OBJECT
public:
    explicit TMainScreen(QWidget* parent = nullptr);

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void FormCreate();
    void FormActivate();
    void FormClose();

    bool m_firstActivationPending = true;
};

}  // namespace telvane
