// TConfigurationInfo: shows the configuration report in a read-only memo (tabs kept, no wrap), and
// copies it to the clipboard or saves it as a text file with CR LF line ends.
#pragma once

#include <QDialog>
#include <QStringList>

class QPlainTextEdit;
class QPushButton;

namespace telvane::maintenance {

class SystemProbe;

class TConfigurationInfo : public QDialog {
    Q_OBJECT
public:
    explicit TConfigurationInfo(QWidget* parent = nullptr);

    void setLines(const QStringList& lines);
    QStringList lines() const;
    QPlainTextEdit* Memo1() const { return memo_; }

    // Where Save As... writes; tests set it instead of answering the file dialog.
    using SaveNameChooser = QString (*)(QWidget* parent, const QString& proposed);
    static void setSaveNameChooser(SaveNameChooser chooser);

    void Button1Click();  // Copy to Clipboard
    void Button2Click();  // OK
    void Button3Click();  // Save As...
    // Writes the lines with CR LF after each; false when the file cannot be written.
    bool saveTo(const QString& fileName) const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FormActivate();

    QPlainTextEdit* memo_;
    QPlainTextEdit* copyPasteMemo_;
};

// Builds the report against the probe and the program's settings, under the hourglass.
QStringList collectConfigurationReport(const SystemProbe& probe);
// The main window's command: the report built on this machine, shown modally, centred.
void showConfigurationInformation(QWidget* parent);

}  // namespace telvane::maintenance
