// The print options dialog (TPrePrintForm), the stored print options and the info lines of the
// viewer and of printed pages.
#include "viewprint/faxviewerwindow.h"
#include "viewprint/printhelpers.h"

#include "faximage/faxexport.h"
#include "faximage/faxunpacker.h"
#include "app/helpwindow.h"
#include "app/mainwindow.h"
#include "app/placement.h"
#include "settings/programdir.h"
#include "settings/settings.h"
#include "app/uihelpers.h"

#include <QActionGroup>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QSpinBox>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <optional>

namespace telvane::viewprint {

namespace {

const QString kSeparator = QStringLiteral("             ");  // 13 spaces

}  // namespace

void saveOptions(const settings::PrintOptions& options) {
    try {
        options.saveTo(settings::ProgramDir());
    } catch (const std::exception&) {
        // Options that cannot be written are kept for this run only.
    }
}

settings::PrintOptions loadOptions() {
    settings::PrintOptions options;
    try {
        options.loadFrom(settings::ProgramDir());
    } catch (const std::exception&) {
        options = settings::PrintOptions{};
    }
    return options;
}

void applyMargins(faximage::TOvxFaxPrinter& printer, const settings::PrintOptions& options, const QString& infoLine) {
    printer.FaxHeader.Enabled = options.Header;
    printer.FaxHeader.Caption = options.Header ? infoLine : QString();
    printer.FaxFooter.Enabled = options.Footer;
    printer.FaxFooter.Caption = options.Footer ? kPageFooterCaption : QString();
}

QString outgoingInfoLine(const QString& recipient, const QString& subject, const QString& sentText) {
    return QStringLiteral("To: ") + recipient + kSeparator + QStringLiteral("Subject: ") + subject + kSeparator +
           QStringLiteral("Sent: ") + sentText;
}

QString incomingInfoLine(const QString& from, const QString& receivedText, const QString& faxFilePath) {
    return QStringLiteral("From: ") + from.trimmed() + kSeparator + QStringLiteral("Received: ") + receivedText +
           kSeparator + QStringLiteral("Fax File: ") + faxFilePath;
}

int initialZoomStep(int pageWidth, int controlWidth) {
    if (pageWidth <= controlWidth) return 50;
    const int r = int(std::int64_t(controlWidth) * 150 / pageWidth);
    return r >= 37 ? 50 : 25;
}

// ---------------------------------------------------------------------------------------------
// TPrePrintForm

TPrePrintForm::TPrePrintForm(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("PrePrintForm"));
    setWindowTitle(QStringLiteral("Print"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    auto spin = [this](const char* name, const QString& hint) {
        auto* s = new QSpinBox(this);
        s->setObjectName(QLatin1String(name));
        s->setRange(1, 1000);
        s->setValue(1);
        s->setToolTip(hint);
        return s;
    };
    FromPage = spin("FromPage", QStringLiteral("Starting page to print from"));
    ToPage = spin("ToPage", QStringLiteral("Ending page to print from"));
    auto box = [this](const char* name, const QString& text, const QString& hint) {
        auto* b = new QCheckBox(text, this);
        b->setObjectName(QLatin1String(name));
        b->setToolTip(hint);
        return b;
    };
    HeaderBox = box("HeaderBox", QStringLiteral("Print &Header"),
                    QStringLiteral("Print a header giving identifying info about the fax"));
    FooterBox = box("FooterBox", QStringLiteral("&Print Footer"), QStringLiteral("Prints page numbers in the footer"));
    MultiPageBox = box("MultiPageBox", QStringLiteral("Print &4 faxes to a page"),
                       QStringLiteral("Print four fax pages per printed page (two\rfax pages per printed page if "
                                      "landscape)"));
    StretchBox = box("StretchBox", QStringLiteral("&Stretch/shrink faxes to fit on page"),
                     QStringLiteral("Stretch or shrink each page so that it fits on a full sheet of printed paper"));
    OkButton = new QPushButton(QStringLiteral("&Ok"), this);
    OkButton->setObjectName(QStringLiteral("OkButton"));
    OkButton->setDefault(true);
    CancelButton = new QPushButton(QStringLiteral("&Cancel"), this);
    CancelButton->setObjectName(QStringLiteral("CancelButton"));
    connect(OkButton, &QPushButton::clicked, this, &TPrePrintForm::OkButtonClick);
    connect(CancelButton, &QPushButton::clicked, this, &TPrePrintForm::reject);

    auto* range = new QGridLayout;
    auto label = [this](const QString& text, QWidget* buddy) {
        auto* l = new QLabel(text, this);
        l->setBuddy(buddy);
        return l;
    };
    range->addWidget(label(QStringLiteral("&From Page:"), FromPage), 0, 0);
    range->addWidget(FromPage, 0, 1);
    range->addWidget(label(QStringLiteral("&To Page:"), ToPage), 0, 2);
    range->addWidget(ToPage, 0, 3);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(OkButton);
    buttons->addWidget(CancelButton);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(range);
    for (QCheckBox* b : {HeaderBox, FooterBox, MultiPageBox, StretchBox}) layout->addWidget(b);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void TPrePrintForm::limitTo(int pages) {
    const int top = std::max(1, pages);
    FromPage->setMaximum(top);
    ToPage->setMaximum(top);
}

void TPrePrintForm::setOptions(const settings::PrintOptions& options) {
    HeaderBox->setChecked(options.Header);
    FooterBox->setChecked(options.Footer);
    MultiPageBox->setChecked(options.MultiPage);
    StretchBox->setChecked(options.Stretch);
}

void TPrePrintForm::storeOptions(settings::PrintOptions& options) const {
    options.Header = HeaderBox->isChecked();
    options.Footer = FooterBox->isChecked();
    options.Stretch = StretchBox->isChecked();
    if (MultiPageBox->isEnabled()) options.MultiPage = MultiPageBox->isChecked();
}

void TPrePrintForm::OkButtonClick() {
    if (ToPage->isEnabled() && ToPage->value() < FromPage->value()) {
        app::soundBeep();
        return;
    }
    done(1);
}

void TPrePrintForm::reject() { done(2); }

// ---------------------------------------------------------------------------------------------

}  // namespace telvane::viewprint
