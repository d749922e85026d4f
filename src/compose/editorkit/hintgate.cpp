// Hints under the "Show Hints" setting (see hintgate.h).
#include "compose/editorkit/hintgate.h"

#include <QEvent>
#include <QWidget>

#include "app/appstate.h"

namespace telvane::editorkit {
namespace {

// Swallows hint requests for the windows it watches while hints are off. Child controls send their
// requests to themselves, so the gate is told about each control, including ones added later.
class HintGate : public QObject {
public:
    using QObject::QObject;

    void watch(QWidget* window) {
        window->installEventFilter(this);
        for (QWidget* child : window->findChildren<QWidget*>()) child->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::ChildAdded) {
            if (auto* child = qobject_cast<QWidget*>(static_cast<QChildEvent*>(event)->child())) watch(child);
        }
        if (event->type() == QEvent::ToolTip) return !app::appSettings().Hints.On;
        return QObject::eventFilter(watched, event);
    }
};

}  // namespace

void followHintSetting(QWidget* window) {
    auto* gate = new HintGate(window);
    gate->watch(window);
}

}  // namespace telvane::editorkit
