// TStandardFaxPrinterStatusDisplay, the fax printer's status window "Print Status": the file,
// its pages, resolution and width, the range being printed, the progress line "%s %d of %d"
// and an Abort button. It is shown while a job runs and closed when the job ends.
#pragma once

#include "faximage/printer/faxprinter.h"

#include <QDialog>

class QLabel;
class QPushButton;

namespace telvane::faximage {

class TStandardFaxPrinterStatusDisplay : public QDialog, public TOvxAbstractFaxPrinterStatus {
    Q_OBJECT
public:
    explicit TStandardFaxPrinterStatusDisplay(QWidget* parent = nullptr);

    void showStatus(TOvxFaxPrinter& printer) override;
    void updateStatus(TOvxFaxPrinter& printer) override;
    void closeStatus(TOvxFaxPrinter& printer) override;

    // "Converting 2 of 5": progress text, current page, last page.
    static QString statusLine(const TOvxFaxPrinter& printer);
    QString statusText() const;
    QString fileText() const;

private:
    QLabel* fileName_;
    QLabel* pages_;
    QLabel* resolution_;
    QLabel* width_;
    QLabel* range_;
    QLabel* status_;
    QPushButton* abort_;
    TOvxFaxPrinter* printer_ = nullptr;
};

}  // namespace telvane::faximage
