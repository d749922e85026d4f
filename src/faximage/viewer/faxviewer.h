// TOvxFaxViewer, the fax viewer control: shows one page of an OVF fax file at a time with
// scrolling, page turning, scaling, rotation, a rubber-band mark copied to the clipboard as a
// 1-bit image, keyboard navigation and dropped files.
// Guarantees: without LoadWholeFax at most one decoded page is held in memory; a page that
// cannot be decoded is reported through OnViewerError and unloads the fax (never a crash or a
// half-shown page); scrolling and painting work from a display image prepared once per page
// turn, rotation or scale change, so they never decode.
#pragma once

#include "faximage/faxunpacker.h"
#include "faximage/raster.h"

#include <QAbstractScrollArea>
#include <QColor>
#include <QCursor>
#include <QImage>
#include <QRect>
#include <QTimer>

#include <optional>
#include <vector>

namespace telvane::faximage {

class TOvxFaxViewer : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit TOvxFaxViewer(QWidget* parent = nullptr);
    ~TOvxFaxViewer() override;

    // Colours used for black and white pels.
    QColor FGColor() const { return fg_; }
    QColor BGColor() const { return bg_; }
    void setFGColor(const QColor& c);
    void setBGColor(const QColor& c);

    // Scaling: when on, the page is shown at HorizMult/HorizDiv by VertMult/VertDiv. Values of
    // 0 are ignored; a ratio whose two values are equal is kept as 1/1.
    bool Scaling() const { return scaling_; }
    void setScaling(bool on);
    int HorizMult() const { return hMul_; }
    int HorizDiv() const { return hDiv_; }
    int VertMult() const { return vMul_; }
    int VertDiv() const { return vDiv_; }
    void setHorizMult(int v);
    void setHorizDiv(int v);
    void setVertMult(int v);
    void setVertDiv(int v);
    void setScale(int horizMult, int horizDiv, int vertMult, int vertDiv);

    TAutoScaleMode AutoScaleMode() const { return autoScale_; }
    void setAutoScaleMode(TAutoScaleMode mode);
    bool WhitespaceCompression = false;
    int WhitespaceFrom = 0;
    int WhitespaceTo = 0;

    // Scroll steps in pels.
    int HorizScroll = 8;
    int VertScroll = 8;

    bool AcceptDragged() const { return acceptDragged_; }
    void setAcceptDragged(bool on);
    bool LoadWholeFax() const { return loadWhole_; }
    void setLoadWholeFax(bool on);
    QCursor BusyCursor = QCursor(Qt::ArrowCursor);

    // Loads a fax file (an empty name unloads): 0, -2 when the file does not exist, -8001 when
    // it is not a fax file, or a decoder error. Failures are also reported by OnViewerError.
    int setFileName(const QString& name);
    const QString& FileName() const { return fileName_; }

    int pageCount() const { return int(slots_.size()); }
    int currentPage() const { return page_; }
    // Shows page n (1..PageCount); other values are ignored.
    void setCurrentPage(int n);
    void firstPage();
    void prevPage();
    void nextPage();
    void lastPage();

    // Rotation in quarter turns clockwise (0..3).
    int rotation() const { return rotation_; }
    void setRotation(int quarterTurns);

    // Suspends re-initialising the page while several settings change.
    void beginUpdate();
    void endUpdate();

    // The decoded page on display (rotated, not scaled) and its size; empty without a file.
    const Raster& pageBitmap() const;
    int pageWidth() const { return pageBitmap().width; }
    int pageHeight() const { return pageBitmap().height; }
    bool pageFine() const { return fine_; }
    bool pageWide() const { return wide_; }
    // Pages whose bitmaps are held in memory.
    int decodedPages() const;

    // The scaled page size and the scroll position.
    QSize scaledSize() const { return scaled_; }
    QPoint scrollOffset() const;

    // The mark, in scaled page coordinates (client position + scroll offset).
    bool hasMark() const { return mark_.has_value(); }
    QRect mark() const { return mark_.value_or(QRect()); }
    void selectAll();
    void selectRect(const QRect& r);
    void clearMark();
    // The marked area in page pels (stretched back through the scale) as a 1-bit image,
    // black pels as colour index 1; a null image without a mark.
    QImage markImage() const;
    // Copies markImage() to the clipboard; false without a mark.
    bool copyToClipboard();

signals:
    void OnPageChange(int page);
    void OnViewerError(int errorCode);
    void OnDropFile(const QString& fileName);

protected:
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void dragEnterEvent(QDragEnterEvent* e) override;
    void dropEvent(QDropEvent* e) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    struct Slot {
        std::optional<Raster> bitmap;
    };
    int decodePage(int page, Raster& out);
    void initPage();
    void rebuildDisplay();
    void updateScrollBars();
    void unload();
    void fail(int code);
    void scrollTo(int x, int y);
    void extendMark(const QPoint& client);
    void autoScrollTick();
    QPoint toPage(const QPoint& client) const;
    static int reduce(int& mult, int& div);
    QRect effectiveScale() const;

    QString fileName_;
    TOvxFaxUnpacker unpacker_;
    std::vector<Slot> slots_;
    Raster empty_;
    int page_ = 0;
    int rotation_ = 0;
    bool fine_ = false, wide_ = false;
    bool scaling_ = false;
    int hMul_ = 1, hDiv_ = 1, vMul_ = 1, vDiv_ = 1;
    TAutoScaleMode autoScale_ = asDoubleHeight;
    bool acceptDragged_ = true;
    bool loadWhole_ = false;
    int updateDepth_ = 0;
    bool pendingInit_ = false;
    QColor fg_ = Qt::black, bg_ = Qt::white;
    QImage display_;
    QSize scaled_;
    std::optional<QRect> mark_;
    QPoint anchor_;
    bool captured_ = false;
    QPoint lastPointer_;
    QTimer autoScroll_;
};

}  // namespace telvane::faximage
