// The fax viewer control: page slots, decoding through the page decoder, the display image,
// scrolling, keyboard, marking, copying and dropped files.
#include "faximage/viewer/faxviewer.h"

#include "errors/errors.h"
#include "faximage/ovffile.h"

#include <QApplication>
#include <QClipboard>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QProxyStyle>
#include <QScrollBar>
#include <QStyleOptionSlider>
#include <QUrl>

#include <algorithm>
#include <numeric>

namespace telvane::faximage {

namespace {

// Turns a raster by quarter turns clockwise.
Raster rotateRaster(const Raster& src, int quarterTurns) {
    if (quarterTurns == 0) return src;
    const bool swap = quarterTurns % 2 == 1;
    Raster out(swap ? src.height : src.width, swap ? src.width : src.height, src.xdpi, src.ydpi);
    if (swap) std::swap(out.xdpi, out.ydpi);
    for (int y = 0; y < src.height; ++y) {
        const std::uint8_t* row = src.row(y);
        for (std::size_t b = 0; b < src.stride; ++b) {
            if (row[b] == 0) continue;  // blank bytes need no work
            for (int bit = 0; bit < 8; ++bit) {
                const int x = int(b) * 8 + bit;
                if (x >= src.width || !(row[b] & (0x80 >> bit))) continue;
                switch (quarterTurns) {
                case 1: out.setPixel(src.height - 1 - y, x, true); break;
                case 2: out.setPixel(src.width - 1 - x, src.height - 1 - y, true); break;
                default: out.setPixel(y, src.width - 1 - x, true); break;
                }
            }
        }
    }
    return out;
}

// Widens a raster trimmed to its last non-blank byte back to the page's line width.
void padToWidth(Raster& r, int width) {
    if (r.height == 0) r = Raster(width, 1, r.xdpi, r.ydpi);
    if (r.width >= width) return;
    Raster wide(width, r.height, r.xdpi, r.ydpi);
    for (int y = 0; y < r.height; ++y) std::copy(r.row(y), r.row(y) + r.stride, wide.row(y));
    r = std::move(wide);
}

// Scroll bars whose thumb stands out from the white page and from the groove. Some styles draw
// a light thumb in a darker groove, so beside a white page the groove reads as the thumb and the
// bars look as if they pointed the wrong way; the thumb is drawn over in a dark shade instead.
class ThumbStyle : public QProxyStyle {
public:
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                            const QWidget* widget) const override {
        QProxyStyle::drawComplexControl(control, option, painter, widget);
        const auto* bar = qstyleoption_cast<const QStyleOptionSlider*>(option);
        if (control != CC_ScrollBar || !bar || bar->maximum <= bar->minimum) return;
        const QRect thumb = subControlRect(control, option, SC_ScrollBarSlider, widget).adjusted(1, 1, -1, -1);
        if (thumb.isEmpty()) return;
        const bool pressed = bar->activeSubControls & SC_ScrollBarSlider && bar->state & State_Sunken;
        QColor fill = option->palette.color(QPalette::Dark);
        if (pressed) fill = fill.darker(120);
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(QPen(option->palette.color(QPalette::Shadow), 1));
        painter->setBrush(fill);
        painter->drawRoundedRect(QRectF(thumb).adjusted(0.5, 0.5, -0.5, -0.5), 2, 2);
        painter->restore();
    }
};

}  // namespace

TOvxFaxViewer::TOvxFaxViewer(QWidget* parent) : QAbstractScrollArea(parent) {
    auto* style = new ThumbStyle;
    style->setParent(this);
    horizontalScrollBar()->setStyle(style);
    verticalScrollBar()->setStyle(style);
    setObjectName(QStringLiteral("ovViewer"));
    setFocusPolicy(Qt::StrongFocus);
    setFrameShape(QFrame::Box);
    setAcceptDragged(true);
    resize(100, 50);
    viewport()->setAutoFillBackground(false);
    unpacker_.Options = 0;  // a page decodes in milliseconds; no re-entry while it does
    autoScroll_.setInterval(50);
    connect(&autoScroll_, &QTimer::timeout, this, &TOvxFaxViewer::autoScrollTick);
}

TOvxFaxViewer::~TOvxFaxViewer() = default;

void TOvxFaxViewer::setFGColor(const QColor& c) {
    fg_ = c;
    rebuildDisplay();
}

void TOvxFaxViewer::setBGColor(const QColor& c) {
    bg_ = c;
    rebuildDisplay();
}

int TOvxFaxViewer::reduce(int& mult, int& div) {
    const int g = std::gcd(mult, div);
    if (g > 1) {
        mult /= g;
        div /= g;
    }
    return g;
}

void TOvxFaxViewer::setScaling(bool on) {
    scaling_ = on;
    initPage();
}

void TOvxFaxViewer::setHorizMult(int v) { setScale(v, hDiv_, vMul_, vDiv_); }
void TOvxFaxViewer::setHorizDiv(int v) { setScale(hMul_, v, vMul_, vDiv_); }
void TOvxFaxViewer::setVertMult(int v) { setScale(hMul_, hDiv_, v, vDiv_); }
void TOvxFaxViewer::setVertDiv(int v) { setScale(hMul_, hDiv_, vMul_, v); }

void TOvxFaxViewer::setScale(int horizMult, int horizDiv, int vertMult, int vertDiv) {
    if (horizMult > 0) hMul_ = horizMult;
    if (horizDiv > 0) hDiv_ = horizDiv;
    if (vertMult > 0) vMul_ = vertMult;
    if (vertDiv > 0) vDiv_ = vertDiv;
    reduce(hMul_, hDiv_);
    reduce(vMul_, vDiv_);
    initPage();
}

void TOvxFaxViewer::setAutoScaleMode(TAutoScaleMode mode) {
    if (mode == autoScale_) return;
    autoScale_ = mode;
    for (Slot& s : slots_) s.bitmap.reset();
    if (loadWhole_ && !slots_.empty()) {
        setFileName(fileName_);
        return;
    }
    initPage();
}

void TOvxFaxViewer::setAcceptDragged(bool on) {
    acceptDragged_ = on;
    setAcceptDrops(on);
    viewport()->setAcceptDrops(on);
}

void TOvxFaxViewer::setLoadWholeFax(bool on) { loadWhole_ = on; }

QRect TOvxFaxViewer::effectiveScale() const {
    // x = horizontal mult, y = vertical mult, width = horizontal div, height = vertical div.
    return scaling_ ? QRect(hMul_, vMul_, hDiv_, vDiv_) : QRect(1, 1, 1, 1);
}

QPoint TOvxFaxViewer::scrollOffset() const { return {horizontalScrollBar()->value(), verticalScrollBar()->value()}; }

const Raster& TOvxFaxViewer::pageBitmap() const {
    if (page_ < 1 || page_ > pageCount() || !slots_[page_ - 1].bitmap) return empty_;
    return *slots_[page_ - 1].bitmap;
}

int TOvxFaxViewer::decodedPages() const {
    return int(std::count_if(slots_.begin(), slots_.end(), [](const Slot& s) { return s.bitmap.has_value(); }));
}

int TOvxFaxViewer::decodePage(int page, Raster& out) {
    OvfReader reader;
    int rc = reader.open(fileName_.toStdString());
    OvfPageHeader header;
    if (rc == 0) rc = reader.seekPage(page, header);
    if (rc != 0) return rc;
    reader.close();
    unpacker_.setInFileName(fileName_.toStdString());
    unpacker_.AutoScaleMode = autoScale_;
    unpacker_.WhitespaceCompression = WhitespaceCompression;
    unpacker_.WhitespaceFrom = WhitespaceFrom;
    unpacker_.WhitespaceTo = WhitespaceTo;
    unpacker_.Scaling = false;
    Raster r;
    rc = unpacker_.unpackPageToBitmap(page, r);
    if (rc != 0) return rc;
    int width = header.lineWidth();
    if (!header.fine() && autoScale_ == asHalfWidth) width /= 2;
    padToWidth(r, width);
    if (page == 1 || page == page_) {
        fine_ = header.fine();
        wide_ = header.wide();
    }
    out = rotateRaster(r, rotation_);
    return 0;
}

int TOvxFaxViewer::setFileName(const QString& fileName) {
    const QString name = fileName;  // may be FileName() itself, which unloading clears
    if (name.isEmpty()) {
        unload();
        return 0;
    }
    if (!QFileInfo(name).isFile()) {
        emit OnViewerError(errors::ecFileNotFound);
        return errors::ecFileNotFound;
    }
    OvfReader reader;
    int rc = reader.open(name.toStdString());
    if (rc == 0 && reader.pageCount() == 0) rc = errors::ecFaxBadFormat;  // nothing to show
    if (rc != 0) {
        emit OnViewerError(rc);
        return rc;
    }
    const int pages = reader.pageCount();
    reader.close();

    unload();
    fileName_ = name;
    slots_.assign(std::size_t(pages), Slot{});
    page_ = 1;
    rotation_ = 0;
    hMul_ = hDiv_ = vMul_ = vDiv_ = 1;
    if (loadWhole_) {
        QApplication::setOverrideCursor(BusyCursor);
        for (int p = 1; p <= pages && rc == 0; ++p) {
            Raster r;
            rc = decodePage(p, r);
            if (rc == 0) slots_[std::size_t(p - 1)].bitmap = std::move(r);
        }
        QApplication::restoreOverrideCursor();
        if (rc != 0) {
            fail(rc);
            return rc;
        }
    }
    initPage();
    return slots_.empty() ? errors::ecFaxBadFormat : 0;
}

void TOvxFaxViewer::unload() {
    autoScroll_.stop();
    captured_ = false;
    fileName_.clear();
    slots_.clear();
    page_ = 0;
    rotation_ = 0;
    display_ = QImage();
    scaled_ = QSize();
    mark_.reset();
    updateScrollBars();
    viewport()->update();
}

void TOvxFaxViewer::fail(int code) {
    unload();
    emit OnViewerError(code);
}

void TOvxFaxViewer::initPage() {
    if (slots_.empty()) return;
    if (updateDepth_ > 0) {
        pendingInit_ = true;
        return;
    }
    Slot& current = slots_[std::size_t(page_ - 1)];
    if (!loadWhole_) {
        for (std::size_t i = 0; i < slots_.size(); ++i)
            if (int(i) != page_ - 1) slots_[i].bitmap.reset();
    }
    if (!current.bitmap) {
        QApplication::setOverrideCursor(BusyCursor);
        Raster r;
        const int rc = decodePage(page_, r);
        QApplication::restoreOverrideCursor();
        if (rc != 0) {
            fail(rc);
            return;
        }
        current.bitmap = std::move(r);
    }
    mark_.reset();
    rebuildDisplay();
    horizontalScrollBar()->setValue(0);
    verticalScrollBar()->setValue(0);
    emit OnPageChange(page_);
}

void TOvxFaxViewer::rebuildDisplay() {
    const Raster& r = pageBitmap();
    if (r.empty()) {
        display_ = QImage();
        scaled_ = QSize();
        updateScrollBars();
        viewport()->update();
        return;
    }
    QImage mono(r.width, r.height, QImage::Format_Mono);
    mono.setColorTable({bg_.rgb(), fg_.rgb()});
    for (int y = 0; y < r.height; ++y) std::copy(r.row(y), r.row(y) + r.stride, mono.scanLine(y));
    const QRect s = effectiveScale();
    scaled_ = QSize(std::max(1, int(std::int64_t(r.width) * s.x() / s.width())),
                    std::max(1, int(std::int64_t(r.height) * s.y() / s.height())));
    QImage rgb = mono.convertToFormat(QImage::Format_RGB32);
    display_ = scaled_ == rgb.size() ? rgb : rgb.scaled(scaled_, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    updateScrollBars();
    viewport()->update();
}

void TOvxFaxViewer::updateScrollBars() {
    const QSize client = viewport()->size();
    horizontalScrollBar()->setRange(0, std::max(0, scaled_.width() - client.width()));
    verticalScrollBar()->setRange(0, std::max(0, scaled_.height() - client.height()));
    // The bars' arrows move a tenth of the view (at least a key step): a step of 8 pels at a
    // reduced zoom barely moves the page, so the arrows seemed to do nothing.
    horizontalScrollBar()->setSingleStep(std::max({1, HorizScroll, client.width() / 10}));
    verticalScrollBar()->setSingleStep(std::max({1, VertScroll, client.height() / 10}));
    horizontalScrollBar()->setPageStep(std::max(1, client.width()));
    verticalScrollBar()->setPageStep(std::max(1, client.height()));
}

void TOvxFaxViewer::setCurrentPage(int n) {
    if (n < 1 || n > pageCount()) return;
    page_ = n;
    initPage();
}

void TOvxFaxViewer::firstPage() {
    if (page_ == 1) {
        scrollTo(0, 0);
        return;
    }
    setCurrentPage(1);
}

void TOvxFaxViewer::prevPage() {
    if (page_ > 1) setCurrentPage(page_ - 1);
}

void TOvxFaxViewer::nextPage() {
    if (page_ < pageCount()) setCurrentPage(page_ + 1);
}

void TOvxFaxViewer::lastPage() {
    if (pageCount() > 0 && page_ != pageCount()) setCurrentPage(pageCount());
}

void TOvxFaxViewer::setRotation(int quarterTurns) {
    quarterTurns = ((quarterTurns % 4) + 4) % 4;
    if (quarterTurns == rotation_) return;
    const int turn = (quarterTurns - rotation_ + 4) % 4;
    rotation_ = quarterTurns;
    for (Slot& s : slots_)
        if (s.bitmap) s.bitmap = rotateRaster(*s.bitmap, turn);
    initPage();
}

void TOvxFaxViewer::beginUpdate() { ++updateDepth_; }

void TOvxFaxViewer::endUpdate() {
    if (updateDepth_ > 0 && --updateDepth_ == 0 && pendingInit_) {
        pendingInit_ = false;
        initPage();
    }
}

void TOvxFaxViewer::scrollTo(int x, int y) {
    horizontalScrollBar()->setValue(std::clamp(x, 0, horizontalScrollBar()->maximum()));
    verticalScrollBar()->setValue(std::clamp(y, 0, verticalScrollBar()->maximum()));
}

void TOvxFaxViewer::scrollContentsBy(int dx, int dy) { viewport()->scroll(dx, dy); }

void TOvxFaxViewer::resizeEvent(QResizeEvent* e) {
    QAbstractScrollArea::resizeEvent(e);
    updateScrollBars();
}

void TOvxFaxViewer::paintEvent(QPaintEvent* e) {
    QPainter p(viewport());
    const QPoint off = scrollOffset();
    const QRect pageRect(-off, scaled_);
    const QRect dirty = e->rect();
    // Around the page: a neutral grey so the page edges stay visible.
    const QColor surround = palette().color(QPalette::Dark);
    for (const QRect& r : QRegion(dirty).subtracted(QRegion(pageRect))) p.fillRect(r, surround);
    if (display_.isNull()) return;
    const QRect visible = dirty.intersected(pageRect);
    if (!visible.isEmpty()) p.drawImage(visible.topLeft(), display_, visible.translated(off));
    if (mark_ && !mark_->isEmpty()) {
        p.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        p.fillRect(mark_->translated(-off), Qt::white);
    }
}

void TOvxFaxViewer::keyPressEvent(QKeyEvent* e) {
    if (captured_ || slots_.empty()) {
        QAbstractScrollArea::keyPressEvent(e);
        return;
    }
    // A mark is of no use without a way to copy it: Ctrl+C copies, Ctrl+A marks the whole page.
    if (e->matches(QKeySequence::Copy)) {
        copyToClipboard();
        e->accept();
        return;
    }
    if (e->matches(QKeySequence::SelectAll)) {
        selectAll();
        e->accept();
        return;
    }
    const bool ctrl = e->modifiers() & Qt::ControlModifier;
    const int steps = ctrl ? 10 : 1;
    const QPoint off = scrollOffset();
    const int hstep = std::max(1, HorizScroll) * steps, vstep = std::max(1, VertScroll) * steps;
    switch (e->key()) {
    case Qt::Key_Up: scrollTo(off.x(), off.y() - vstep); break;
    case Qt::Key_Down: scrollTo(off.x(), off.y() + vstep); break;
    case Qt::Key_Left: scrollTo(off.x() - hstep, off.y()); break;
    case Qt::Key_Right: scrollTo(off.x() + hstep, off.y()); break;
    case Qt::Key_PageUp:
        if (ctrl)
            scrollTo(off.x(), 0);
        else
            prevPage();
        break;
    case Qt::Key_PageDown:
        if (ctrl)
            scrollTo(off.x(), verticalScrollBar()->maximum());
        else
            nextPage();
        break;
    case Qt::Key_Home:
        if (ctrl)
            firstPage();
        else
            scrollTo(0, off.y());
        break;
    case Qt::Key_End:
        if (ctrl)
            lastPage();
        else
            scrollTo(horizontalScrollBar()->maximum(), off.y());
        break;
    default: QAbstractScrollArea::keyPressEvent(e); return;
    }
    e->accept();
}

QPoint TOvxFaxViewer::toPage(const QPoint& client) const {
    const QPoint p = client + scrollOffset();
    return {std::clamp(p.x(), 0, scaled_.width()), std::clamp(p.y(), 0, scaled_.height())};
}

void TOvxFaxViewer::mousePressEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton || slots_.empty()) {
        QAbstractScrollArea::mousePressEvent(e);
        return;
    }
    setFocus(Qt::MouseFocusReason);
    anchor_ = toPage(e->position().toPoint());
    mark_ = QRect(anchor_, QSize(0, 0));
    captured_ = true;
    lastPointer_ = e->position().toPoint();
    viewport()->update();
}

void TOvxFaxViewer::extendMark(const QPoint& client) {
    const QPoint p = toPage(client);
    const QRect old = mark_.value_or(QRect());
    mark_ = QRect(QPoint(std::min(anchor_.x(), p.x()), std::min(anchor_.y(), p.y())),
                  QSize(std::abs(p.x() - anchor_.x()), std::abs(p.y() - anchor_.y())));
    if (*mark_ != old) viewport()->update();
}

void TOvxFaxViewer::mouseMoveEvent(QMouseEvent* e) {
    if (!captured_) return;
    lastPointer_ = e->position().toPoint();
    extendMark(lastPointer_);
    if (viewport()->rect().contains(lastPointer_))
        autoScroll_.stop();
    else if (!autoScroll_.isActive())
        autoScroll_.start();
}

void TOvxFaxViewer::autoScrollTick() {
    if (!captured_) {
        autoScroll_.stop();
        return;
    }
    const QRect client = viewport()->rect();
    const QPoint p = lastPointer_;
    auto stepFor = [](int pos, int lo, int hi, int step) {
        if (pos < lo) return -(lo - pos > 20 ? 2 : 1) * step;
        if (pos > hi) return (pos - hi > 20 ? 2 : 1) * step;
        return 0;
    };
    const int dx = stepFor(p.x(), client.left(), client.right(), std::max(1, HorizScroll));
    const int dy = stepFor(p.y(), client.top(), client.bottom(), std::max(1, VertScroll));
    const QPoint off = scrollOffset();
    scrollTo(off.x() + dx, off.y() + dy);
    extendMark(p);
}

void TOvxFaxViewer::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton || !captured_) return;
    captured_ = false;
    autoScroll_.stop();
    extendMark(e->position().toPoint());
    if (mark_ && (mark_->width() == 0 || mark_->height() == 0)) clearMark();
}

void TOvxFaxViewer::selectAll() {
    if (scaled_.isEmpty()) return;
    mark_ = QRect(QPoint(0, 0), scaled_);
    viewport()->update();
}

void TOvxFaxViewer::selectRect(const QRect& r) {
    const QRect clamped = r.normalized().intersected(QRect(QPoint(0, 0), scaled_));
    if (clamped.width() <= 0 || clamped.height() <= 0)
        mark_.reset();
    else
        mark_ = clamped;
    viewport()->update();
}

void TOvxFaxViewer::clearMark() {
    mark_.reset();
    viewport()->update();
}

QImage TOvxFaxViewer::markImage() const {
    const Raster& r = pageBitmap();
    if (!mark_ || r.empty()) return {};
    const QRect s = effectiveScale();
    // Display pels back to page pels through the scale ratios.
    const int x0 = int(std::int64_t(mark_->left()) * s.width() / s.x());
    const int y0 = int(std::int64_t(mark_->top()) * s.height() / s.y());
    const int x1 = std::min(r.width, int(std::int64_t(mark_->left() + mark_->width()) * s.width() / s.x()));
    const int y1 = std::min(r.height, int(std::int64_t(mark_->top() + mark_->height()) * s.height() / s.y()));
    if (x1 <= x0 || y1 <= y0) return {};
    QImage img(x1 - x0, y1 - y0, QImage::Format_Mono);
    img.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
    img.fill(0);
    for (int y = y0; y < y1; ++y) {
        const std::uint8_t* row = r.row(y);
        uchar* out = img.scanLine(y - y0);
        for (int x = x0; x < x1; ++x)
            if ((row[x >> 3] >> (7 - (x & 7))) & 1) out[(x - x0) >> 3] |= uchar(0x80 >> ((x - x0) & 7));
    }
    return img;
}

bool TOvxFaxViewer::copyToClipboard() {
    const QImage img = markImage();
    if (img.isNull()) return false;
    QApplication::clipboard()->setImage(img);
    return true;
}

void TOvxFaxViewer::dragEnterEvent(QDragEnterEvent* e) {
    if (acceptDragged_ && e->mimeData()->hasUrls() && !e->mimeData()->urls().isEmpty() &&
        e->mimeData()->urls().first().isLocalFile())
        e->acceptProposedAction();
}

void TOvxFaxViewer::dropEvent(QDropEvent* e) {
    if (!acceptDragged_ || !e->mimeData()->hasUrls() || e->mimeData()->urls().isEmpty()) return;
    const QString file = e->mimeData()->urls().first().toLocalFile();
    if (file.isEmpty()) return;
    e->acceptProposedAction();
    setFileName(file);
    emit OnDropFile(file);
}

}  // namespace telvane::faximage
