// Default font of new texts (see defaultfont.h).
#include "compose/editorkit/defaultfont.h"

#include <QFontDialog>

#include "app/appstate.h"
#include "app/uihelpers.h"

namespace telvane::editorkit {

richtext::TextAttributes defaultFontAttributes(const settings::Settings& settings) {
    const auto& f = settings.DefaultFont;
    richtext::TextAttributes a;
    a.name = QString::fromStdString(f.Name);
    a.size = f.Size;
    a.style = (f.Bold ? richtext::kStyleBold : 0) | (f.Italic ? richtext::kStyleItalic : 0) |
              (f.Underline ? richtext::kStyleUnderline : 0);
    return a;
}

void applyDefaultFont(richtext::TRichText& editor, const settings::Settings& settings) {
    editor.setInputAttributes(defaultFontAttributes(settings));
}

bool chooseDefaultFont(QWidget* parent, const std::string& programDir) {
    settings::Settings& settings = app::appSettings();
    try {
        settings.loadFrom(programDir);
    } catch (const settings::IniError&) {
        // An unreadable settings file leaves the record as it was; the dialog still shows its font.
    }
    auto& stored = settings.DefaultFont;
    QFont font(QString::fromStdString(stored.Name), stored.Size > 0 ? stored.Size : 10);
    font.setBold(stored.Bold);
    font.setItalic(stored.Italic);
    font.setUnderline(stored.Underline);

    QFontDialog dialog(font, parent);
    dialog.setObjectName(QStringLiteral("DefaultFontDialog"));
    dialog.setWindowTitle(QStringLiteral("Default Font"));
    dialog.setOption(QFontDialog::DontUseNativeDialog);
    if (dialog.exec() != QDialog::Accepted) return false;

    const QFont chosen = dialog.selectedFont();
    stored.Name = chosen.family().toStdString();
    stored.Size = chosen.pointSizeF() > 0 ? qRound(chosen.pointSizeF()) : stored.Size;
    stored.Bold = chosen.bold();
    stored.Italic = chosen.italic();
    stored.Underline = chosen.underline();
    try {
        settings.saveTo(programDir);
    } catch (const settings::IniError& e) {
        app::ShowInformation(QString::fromLocal8Bit(e.what()));
        return false;
    }
    return true;
}

}  // namespace telvane::editorkit
