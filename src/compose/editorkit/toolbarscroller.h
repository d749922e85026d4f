// TToolBarScroller: holds a rich-text tool bar so that a window narrower than the bar does not
// squeeze or cut its controls: the bar keeps its full width and a horizontal scroll bar appears
// under it, only while it is needed.
#pragma once

#include <QScrollArea>

namespace telvane::editorkit {

class TToolBarScroller : public QScrollArea {
    Q_OBJECT
public:
    explicit TToolBarScroller(QWidget* bar, QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    // True while the bar is wider than the room it has.
    bool scrolling() const;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void fitHeight();
};

// The size an editor window opens at before any placement is stored: wide enough for its widest
// tool bar and at least 760 by 560, but never beyond the screen's available area.
QSize defaultEditorSize(const QWidget* widestBar, const QSize& windowMinimum);

}  // namespace telvane::editorkit
