// Answering a modal window in a widget test: the action runs from the event loop once the window
// is up, so that the code that opened it (and waits in exec()) goes on with the answer.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

namespace telvane::test {

// Runs `act` on the modal window of type W as soon as it is the active modal window and visible.
// A window that never comes up within `seconds` fails the test instead of hanging it; whatever
// other modal window is up then is closed.
template <class W>
void whenModal(std::function<void(W*)> act, int seconds = 20) {
    auto* timer = new QTimer;
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, clock, act, seconds] {
        W* window = qobject_cast<W*>(QApplication::activeModalWidget());
        if (window && window->isVisible()) {
            timer->stop();
            timer->deleteLater();
            act(window);
            return;
        }
        if (clock->elapsed() > seconds * 1000) {
            timer->stop();
            timer->deleteLater();
            ADD_FAILURE() << "no modal " << W::staticMetaObject.className() << " came up";
            if (QWidget* other = QApplication::activeModalWidget()) other->close();
        }
    });
    timer->start();
}

}  // namespace telvane::test
