// Tool-bar holder of the editors (see toolbarscroller.h).
#include "compose/editorkit/toolbarscroller.h"

#include <QGuiApplication>
#include <QScreen>
#include <QScrollBar>

#include <algorithm>

namespace telvane::editorkit {
namespace {

constexpr int kMinimumWidth = 160;

}  // namespace

TToolBarScroller::TToolBarScroller(QWidget* bar, QWidget* parent) : QScrollArea(parent) {
    setObjectName(bar->objectName() + QStringLiteral("Scroller"));
    setFrameShape(QFrame::NoFrame);
    setWidgetResizable(true);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setWidget(bar);
    fitHeight();
}

QSize TToolBarScroller::sizeHint() const { return QSize(widget()->sizeHint().width(), height()); }

QSize TToolBarScroller::minimumSizeHint() const { return QSize(kMinimumWidth, height()); }

bool TToolBarScroller::scrolling() const { return widget()->minimumSizeHint().width() > width(); }

void TToolBarScroller::fitHeight() {
    const int bar = widget()->sizeHint().height();
    setFixedHeight(scrolling() ? bar + horizontalScrollBar()->sizeHint().height() : bar);
}

void TToolBarScroller::resizeEvent(QResizeEvent* event) {
    QScrollArea::resizeEvent(event);
    fitHeight();
}

QSize defaultEditorSize(const QWidget* widestBar, const QSize& windowMinimum) {
    constexpr int kFrame = 16;  // window margins around the bar
    QSize size = QSize(760, 560).expandedTo(windowMinimum);
    size.setWidth(std::max(size.width(), widestBar->sizeHint().width() + kFrame));
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        size = size.boundedTo(screen->availableGeometry().size());
    return size;
}

}  // namespace telvane::editorkit
