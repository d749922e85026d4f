// The standard print status window.
#include "faximage/printer/printstatus.h"

#include <QFileInfo>
#include <QFormLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace telvane::faximage {

TStandardFaxPrinterStatusDisplay::TStandardFaxPrinterStatusDisplay(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Print Status"));
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("File:"), fileName_ = new QLabel);
    form->addRow(QStringLiteral("Total pages:"), pages_ = new QLabel);
    form->addRow(QStringLiteral("Resolution:"), resolution_ = new QLabel);
    form->addRow(QStringLiteral("Width:"), width_ = new QLabel);
    form->addRow(QStringLiteral("Printing pages:"), range_ = new QLabel);
    status_ = new QLabel;
    status_->setMinimumWidth(260);
    abort_ = new QPushButton(QStringLiteral("&Abort"));
    connect(abort_, &QPushButton::clicked, this, [this] {
        if (printer_) printer_->printAbort();
    });
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(status_);
    layout->addWidget(abort_, 0, Qt::AlignHCenter);
}

QString TStandardFaxPrinterStatusDisplay::statusLine(const TOvxFaxPrinter& printer) {
    return QStringLiteral("%1 %2 of %3")
        .arg(faxPrintProgressText(printer.progress()))
        .arg(printer.currentPage())
        .arg(printer.LastPage);
}

QString TStandardFaxPrinterStatusDisplay::statusText() const { return status_->text(); }
QString TStandardFaxPrinterStatusDisplay::fileText() const { return fileName_->text(); }

void TStandardFaxPrinterStatusDisplay::showStatus(TOvxFaxPrinter& printer) {
    printer_ = &printer;
    fileName_->setText(printer.FileName().toUpper());
    pages_->setText(QString::number(printer.pageCount()));
    resolution_->setText(printer.faxFine() ? QStringLiteral("high") : QStringLiteral("standard"));
    width_->setText(printer.faxWide() ? QStringLiteral("2048") : QStringLiteral("1728"));
    range_->setText(QStringLiteral("%1 to %2").arg(printer.FirstPage).arg(printer.LastPage));
    updateStatus(printer);
    adjustSize();
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect r = frameGeometry();
        r.moveCenter(screen->availableGeometry().center());
        move(r.topLeft());
    }
    show();
    raise();
}

void TStandardFaxPrinterStatusDisplay::updateStatus(TOvxFaxPrinter& printer) {
    status_->setText(statusLine(printer));
    abort_->setEnabled(printer.Printing());
}

void TStandardFaxPrinterStatusDisplay::closeStatus(TOvxFaxPrinter&) {
    printer_ = nullptr;
    hide();
}

}  // namespace telvane::faximage
