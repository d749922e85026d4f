// telvane-faxconv to-fax input type "rtf": rich text rendered exactly as the program renders an
// outgoing fax (CreateFaxFile: same page bitmap, layout, painting and encoder settings).
// Built into the tool only where Qt is available (the render core paints text with Qt GUI).
#include "faxconv.h"

#include "compose/render/rtftofax.h"

#include <QGuiApplication>

namespace faxconv {

namespace {

int convertRtf(const ToFaxRequest& r, std::string& message) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    int argc = 1;
    char name[] = "telvane-faxconv";
    char* argv[] = {name, nullptr};
    QGuiApplication app(argc, argv);
    QString error;
    if (!telvane::render::renderRtfToFaxFile(QString::fromStdString(r.input), QString::fromStdString(r.cover),
                                             QString::fromStdString(r.output), error))
        message = error.toStdString();
    return 0;
}

const InputTypeRegistrar rtfType({"rtf", {"rtf"}, "rich text, paginated and rendered at fine resolution", convertRtf});

}  // namespace

}  // namespace faxconv
