#include "maintenance/configinfo.h"

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>

#include "maintenance/configreport.h"
#include "maintenance/linuxprobe.h"
#include "app/appstate.h"
#include "settings/programdir.h"
#include "app/uihelpers.h"

namespace telvane::maintenance {

namespace {

const QString kCaption = QStringLiteral("Configuration Information");

QString askSaveName(QWidget* parent, const QString& proposed) {
    QFileDialog dialog(parent, QStringLiteral("Save As"), proposed, QStringLiteral("Text files (*.TXT *.txt)"));
    dialog.setObjectName(QStringLiteral("SaveDialog1"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("TXT"));
    dialog.selectFile(proposed);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().constFirst();
}

TConfigurationInfo::SaveNameChooser g_chooser = &askSaveName;

void informationBox(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::Information, kCaption, app::cutPromptText(text), QMessageBox::Ok, parent);
    box.setObjectName(QStringLiteral("ConfigInfoMessage"));
    app::keepTitleWhole(box);
    box.exec();
}

}  // namespace

void TConfigurationInfo::setSaveNameChooser(SaveNameChooser chooser) { g_chooser = chooser ? chooser : &askSaveName; }

TConfigurationInfo::TConfigurationInfo(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("TConfigurationInfo"));
    setWindowTitle(kCaption);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::MSWindowsFixedSizeDialogHint);

    auto* label = new QLabel(
        QStringLiteral("The information below describes this computer and how Telvane is set up. It is helpful "
                       "when writing to technical support. \"Copy to Clipboard\" copies it so that you can paste "
                       "it into your e-mail program."),
        this);
    label->setObjectName(QStringLiteral("Label1"));
    label->setWordWrap(true);

    memo_ = new QPlainTextEdit(this);
    memo_->setObjectName(QStringLiteral("Memo1"));
    memo_->setReadOnly(true);
    memo_->setLineWrapMode(QPlainTextEdit::NoWrap);
    memo_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    memo_->setFont(fixed);
    memo_->setTabStopDistance(QFontMetricsF(fixed).horizontalAdvance(QLatin1Char(' ')) * 8);
    copyPasteMemo_ = new QPlainTextEdit(this);
    copyPasteMemo_->setObjectName(QStringLiteral("CopyPasteMemo"));
    copyPasteMemo_->setVisible(false);

    QPushButton* copy = app::makePushButton(this, "Button1", QStringLiteral("Copy to Clipboard"), {});
    QPushButton* save = app::makePushButton(this, "Button3", QStringLiteral("Save As..."), {});
    QPushButton* ok = app::makePushButton(this, "Button2", QStringLiteral("OK"), {});
    ok->setDefault(true);
    connect(copy, &QPushButton::clicked, this, [this] { Button1Click(); });
    connect(save, &QPushButton::clicked, this, [this] { Button3Click(); });
    connect(ok, &QPushButton::clicked, this, [this] { Button2Click(); });
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(copy);
    buttons->addWidget(save);
    buttons->addStretch();
    buttons->addWidget(ok);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(memo_, 1);
    layout->addLayout(buttons);
    setFixedSize(640, 480);
}

void TConfigurationInfo::setLines(const QStringList& lines) { memo_->setPlainText(lines.join(QLatin1Char('\n'))); }

QStringList TConfigurationInfo::lines() const { return memo_->toPlainText().split(QLatin1Char('\n')); }

void TConfigurationInfo::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    FormActivate();
}

void TConfigurationInfo::FormActivate() {
    QTextCursor c = memo_->textCursor();
    c.movePosition(QTextCursor::Start);
    memo_->setTextCursor(c);
    memo_->verticalScrollBar()->setValue(0);
    memo_->horizontalScrollBar()->setValue(0);
}

void TConfigurationInfo::Button1Click() {
    copyPasteMemo_->setPlainText(memo_->toPlainText());
    copyPasteMemo_->selectAll();
    QGuiApplication::clipboard()->setText(QString::fromUtf8(reportText(lines())));
    informationBox(this, QStringLiteral("Information copied to the clipboard"));
}

void TConfigurationInfo::Button2Click() { accept(); }

bool TConfigurationInfo::saveTo(const QString& fileName) const {
    QFile f(fileName);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    const QByteArray data = reportText(lines());
    return f.write(data) == data.size() && f.flush();
}

void TConfigurationInfo::Button3Click() {
    const QString proposed = QDir(app::userFilesFolder()).filePath(QStringLiteral("ConfigInfo.txt"));
    const QString name = g_chooser(this, proposed);
    if (name.isEmpty()) return;
    if (!saveTo(name)) {
        informationBox(this, QStringLiteral("Could not write ") + name);
        return;
    }
    informationBox(this, QStringLiteral("Information was saved as: ") + name);
}

QStringList collectConfigurationReport(const SystemProbe& probe) {
    settings::PrintOptions print;
    print.loadFrom(settings::ProgramDir());
    return buildConfigurationReport(probe, app::appSettings(), print, settings::ProgramDir());
}

void showConfigurationInformation(QWidget* parent) {
    TConfigurationInfo window(parent);
    {
        app::HourGlass hourglass;
        window.setLines(collectConfigurationReport(LinuxProbe()));
        app::centerDialog(&window);
    }
    window.exec();
}

}  // namespace telvane::maintenance
