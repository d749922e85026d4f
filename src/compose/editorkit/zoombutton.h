// TZoomButton: the "100%" button of the editors. It drops down the zoom menu "70%", "80%", "100%"
// just below itself, with the item equal to the present zoom of its target part checked; choosing
// an item sets that part's Zooming and the button's caption to the value followed by "%".
#pragma once

#include <QPushButton>

#include <functional>

class QMenu;

namespace telvane::richtext {
class TRichText;
}  // namespace telvane::richtext

namespace telvane::editorkit {

class TZoomButton : public QPushButton {
    Q_OBJECT
public:
    static constexpr int kZoomSteps[] = {70, 80, 100};

    // target names the part the menu acts on at the moment it is used.
    TZoomButton(std::function<richtext::TRichText*()> target, QWidget* parent = nullptr);

    QMenu* zoomMenu() const { return menu_; }
    // Checks the item of the target's zoom and opens the menu under the button.
    void dropDown();
    // Sets the target's zoom and the caption.
    void chooseZoom(int percent);
    // Shows the target's present zoom in the caption.
    void showZoom();

private:
    void checkPresentZoom();

    std::function<richtext::TRichText*()> target_;
    QMenu* menu_;
};

}  // namespace telvane::editorkit
