// telvane-faxconv to-fax input type "textex": plain text drawn with a system font through Qt.
#include "faxconv.h"

#include "faximage/faxconverter.h"
#include "faximage/qtfont/qtfonttext.h"

#include <QFont>
#include <QGuiApplication>

namespace faxconv {

namespace {

using namespace telvane::faximage;

int convertTextEx(const ToFaxRequest& r, std::string& message) {
    int argc = 1;
    char name[] = "telvane-faxconv";
    char* argv[] = {name, nullptr};
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QString family = "Liberation Mono";
    double points = 10;
    if (!r.font.empty()) {
        QString spec = QString::fromStdString(r.font);
        int colon = spec.lastIndexOf(':');
        if (colon > 0) {
            bool ok = false;
            points = spec.mid(colon + 1).toDouble(&ok);
            if (!ok || points <= 0) {
                message = "bad font size in '" + r.font + "'";
                return 0;
            }
            spec = spec.left(colon);
        }
        family = spec;
    }
    QFont font(family);
    font.setPointSizeF(points);
    TOvxFaxConverter c;
    c.InputDocumentType = idTextEx;
    applyPageOptions(c, r);
    c.EnhFont = std::make_shared<QtFontTextRenderer>(font);
    c.setOptions(r.center ? coCenterImage : 0);
    return c.convert();
}

const InputTypeRegistrar textExType(
    {"textex", {}, "plain text in a system font (--font FAMILY[:POINTS])", convertTextEx});

}  // namespace

}  // namespace faxconv
