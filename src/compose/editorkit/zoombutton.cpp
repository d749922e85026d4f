// Zoom button and menu of the editors (see zoombutton.h).
#include "compose/editorkit/zoombutton.h"

#include <QMenu>

#include "compose/richtext/trichtext.h"
#include "app/uihelpers.h"

namespace telvane::editorkit {

TZoomButton::TZoomButton(std::function<richtext::TRichText*()> target, QWidget* parent)
    : QPushButton(QStringLiteral("100%"), parent), target_(std::move(target)), menu_(new QMenu(this)) {
    setObjectName(QStringLiteral("Zoombutton"));
    setToolTip(QStringLiteral("Set the view percentage for the current editor"));
    menu_->setObjectName(QStringLiteral("ZoomMenu"));
    for (int percent : kZoomSteps) {
        QAction* item = menu_->addAction(QString::number(percent) + QLatin1Char('%'));
        item->setCheckable(true);
        item->setData(percent);
        connect(item, &QAction::triggered, this, [this, percent] { chooseZoom(percent); });
    }
    connect(this, &QPushButton::clicked, this, &TZoomButton::dropDown);
}

void TZoomButton::checkPresentZoom() {
    richtext::TRichText* part = target_();
    const int present = part ? part->Zooming() : 100;
    for (QAction* item : menu_->actions()) item->setChecked(item->data().toInt() == present);
}

void TZoomButton::dropDown() {
    checkPresentZoom();
    app::popupMenuUnder(menu_, this);
}

void TZoomButton::chooseZoom(int percent) {
    if (richtext::TRichText* part = target_()) part->setZooming(percent);
    setText(QString::number(percent) + QLatin1Char('%'));
}

void TZoomButton::showZoom() {
    richtext::TRichText* part = target_();
    setText(QString::number(part ? part->Zooming() : 100) + QLatin1Char('%'));
}

}  // namespace telvane::editorkit
