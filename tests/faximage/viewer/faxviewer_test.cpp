// The fax viewer control offscreen: loading and its errors, page slots in memory, scaling and
// its ratios, rotation, keyboard navigation, marking with the mouse (also beyond the edge),
// copying a mark at a scale, colours, dropped files.
#include <gtest/gtest.h>

#include <QClipboard>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTemporaryDir>
#include <QUrl>

#include "errors/errors.h"
#include "faximage/viewer/faxviewer.h"
#include "faximage/viewertestutil.h"

using namespace telvane;
using namespace telvane::faximage;
using namespace viewertest;

namespace {

class FaxViewerTest : public ::testing::Test {
protected:
    void SetUp() override {
        app();
        ASSERT_TRUE(dir.isValid());
        viewer.resize(400, 300);
        viewer.show();
    }
    QString fax(const std::vector<Raster>& pages, const char* name = "fax.ovf", bool fine = true) {
        const QString path = dir.filePath(name);
        EXPECT_TRUE(makeFax(path.toStdString(), pages, fine));
        return path;
    }
    QString threePages() { return fax({barsPage(1), barsPage(2), barsPage(3)}); }
    void key(int k, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        QKeyEvent press(QEvent::KeyPress, k, mods);
        QCoreApplication::sendEvent(&viewer, &press);
    }
    void mouse(QEvent::Type type, QPoint pos, Qt::MouseButtons buttons) {
        QMouseEvent e(type, QPointF(pos), viewer.viewport()->mapToGlobal(QPointF(pos)), Qt::LeftButton, buttons,
                      Qt::NoModifier);
        QCoreApplication::sendEvent(viewer.viewport(), &e);
    }

    bool appReady = (app(), true);  // before any widget
    // Opens the drop handler to the test: a hand-made drop event does not pass Qt's drag routing.
    struct Viewer : TOvxFaxViewer {
        using TOvxFaxViewer::dragEnterEvent;
        using TOvxFaxViewer::dropEvent;
    };
    QTemporaryDir dir;
    Viewer viewer;
};

TEST_F(FaxViewerTest, LoadingShowsPageOneAndMissingOrForeignFilesAreReported) {
    QSignalSpy pageChange(&viewer, &TOvxFaxViewer::OnPageChange);
    QSignalSpy errors(&viewer, &TOvxFaxViewer::OnViewerError);
    ASSERT_EQ(viewer.setFileName(threePages()), 0);
    EXPECT_EQ(viewer.pageCount(), 3);
    EXPECT_EQ(viewer.currentPage(), 1);
    EXPECT_EQ(viewer.pageWidth(), 1728);
    EXPECT_EQ(viewer.pageHeight(), 1200);
    ASSERT_EQ(pageChange.count(), 1);
    EXPECT_EQ(pageChange[0][0].toInt(), 1);

    EXPECT_EQ(viewer.setFileName(dir.filePath("nothere.ovf")), errors::ecFileNotFound);
    QFile junk(dir.filePath("junk.ovf"));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write(QByteArray(200, 'x'));
    junk.close();
    EXPECT_EQ(viewer.setFileName(junk.fileName()), errors::ecFaxBadFormat);
    ASSERT_EQ(errors.count(), 2);
    EXPECT_EQ(errors[0][0].toInt(), errors::ecFileNotFound);
    EXPECT_EQ(errors[1][0].toInt(), errors::ecFaxBadFormat);
    // A file that could not be opened leaves the fax on display as it was.
    EXPECT_EQ(viewer.pageCount(), 3);
    EXPECT_EQ(viewer.setFileName(QString()), 0);
    EXPECT_EQ(viewer.pageCount(), 0);
    EXPECT_TRUE(viewer.pageBitmap().empty());
}

TEST_F(FaxViewerTest, AStandardPageIsShownAtHalfWidthOrDoubleHeight) {
    const QString path = fax({barsPage(2, 600)}, "std.ovf", false);
    ASSERT_EQ(viewer.setFileName(path), 0);
    EXPECT_EQ(viewer.pageWidth(), 1728);
    EXPECT_EQ(viewer.pageHeight(), 1200);
    viewer.setAutoScaleMode(asHalfWidth);
    EXPECT_EQ(viewer.pageWidth(), 864);
    EXPECT_EQ(viewer.pageHeight(), 600);
}

TEST_F(FaxViewerTest, OnlyTheCurrentPageIsDecodedUnlessTheWholeFaxIsLoaded) {
    ASSERT_EQ(viewer.setFileName(threePages()), 0);
    viewer.nextPage();
    viewer.nextPage();
    EXPECT_EQ(viewer.currentPage(), 3);
    EXPECT_EQ(viewer.decodedPages(), 1);
    // The page on display is the one decoded: three bars.
    EXPECT_TRUE(viewer.pageBitmap().pixel(100 + 2 * 240 + 10, 300));
    EXPECT_FALSE(viewer.pageBitmap().pixel(100 + 3 * 240 + 10, 300));

    viewer.setLoadWholeFax(true);
    ASSERT_EQ(viewer.setFileName(viewer.FileName()), 0);
    EXPECT_EQ(viewer.decodedPages(), 3);
    viewer.lastPage();
    EXPECT_EQ(viewer.decodedPages(), 3);
}

TEST_F(FaxViewerTest, EqualRatiosAreKeptAsOneToOne) {
    ASSERT_EQ(viewer.setFileName(threePages()), 0);
    viewer.setScaling(true);
    viewer.setScale(2, 2, 3, 3);
    EXPECT_EQ(viewer.HorizMult(), 1);
    EXPECT_EQ(viewer.HorizDiv(), 1);
    EXPECT_EQ(viewer.VertMult(), 1);
    EXPECT_EQ(viewer.VertDiv(), 1);
    EXPECT_EQ(viewer.scaledSize(), QSize(1728, 1200));
    viewer.setScale(50, 100, 0, 0);  // zeros are ignored
    EXPECT_EQ(viewer.scaledSize(), QSize(864, 1200));
    viewer.setScaling(false);
    EXPECT_EQ(viewer.scaledSize(), QSize(1728, 1200));
}

TEST_F(FaxViewerTest, BeginAndEndUpdateApplyScaleChangesOnce) {
    ASSERT_EQ(viewer.setFileName(threePages()), 0);
    QSignalSpy pageChange(&viewer, &TOvxFaxViewer::OnPageChange);
    viewer.beginUpdate();
    viewer.setScaling(true);
    viewer.setScale(1, 4, 1, 4);
    EXPECT_EQ(pageChange.count(), 0);
    viewer.endUpdate();
    EXPECT_EQ(pageChange.count(), 1);
    EXPECT_EQ(viewer.scaledSize(), QSize(432, 300));
}

TEST_F(FaxViewerTest, RotationTurnsThePageClockwise) {
    Raster page(1728, 1000);
    fillRect(page, 0, 0, 10, 10);  // a block at the top-left corner
    ASSERT_EQ(viewer.setFileName(fax({page})), 0);
    viewer.setRotation(1);
    EXPECT_EQ(viewer.rotation(), 1);
    EXPECT_EQ(viewer.pageWidth(), 1000);
    EXPECT_EQ(viewer.pageHeight(), 1728);
    EXPECT_TRUE(viewer.pageBitmap().pixel(995, 5));  // top-left went to the top-right
    viewer.setRotation(2);
    EXPECT_TRUE(viewer.pageBitmap().pixel(1720, 995));
    viewer.setRotation(3);
    EXPECT_TRUE(viewer.pageBitmap().pixel(5, 1720));
    viewer.setRotation(0);
    EXPECT_TRUE(viewer.pageBitmap().pixel(5, 5));
    EXPECT_FALSE(viewer.pageBitmap().pixel(995, 5));
}

TEST_F(FaxViewerTest, ArrowsScrollByStepsAndCtrlByTenSteps) {
    ASSERT_EQ(viewer.setFileName(threePages()), 0);
    viewer.VertScroll = 8;
    viewer.HorizScroll = 5;
    key(Qt::Key_Down);
    EXPECT_EQ(viewer.scrollOffset(), QPoint(0, 8));
    key(Qt::Key_Down, Qt::ControlModifier);
    EXPECT_EQ(viewer.scrollOffset(), QPoint(0, 88));
    key(Qt::Key_Right, Qt::ControlModifier);
    key(Qt::Key_Left);
    EXPECT_EQ(viewer.scrollOffset(), QPoint(45, 88));
    key(Qt::Key_Up, Qt::ControlModifier);
    key(Qt::Key_Up, Qt::ControlModifier);
    EXPECT_EQ(viewer.scrollOffset(), QPoint(45, 0));  // clamped at the top
    key(Qt::Key_End);
    EXPECT_EQ(viewer.scrollOffset().x(), viewer.horizontalScrollBar()->maximum());
    EXPECT_EQ(viewer.horizontalScrollBar()->maximum(), 1728 - viewer.viewport()->width());
    key(Qt::Key_PageDown, Qt::ControlModifier);
    EXPECT_EQ(viewer.scrollOffset().y(), 1200 - viewer.viewport()->height());
    key(Qt::Key_PageUp, Qt::ControlModifier);
    EXPECT_EQ(viewer.scrollOffset().y(), 0);
    EXPECT_EQ(viewer.currentPage(), 1);
}

TEST_F(FaxViewerTest, PageKeysTurnPagesAndCtrlHomeGoesToTheFirstPage) {
    ASSERT_EQ(viewer.setFileName(threePages()), 0);
    key(Qt::Key_PageDown);
    key(Qt::Key_PageDown);
    key(Qt::Key_PageDown);  // already on the last page
    EXPECT_EQ(viewer.currentPage(), 3);
    key(Qt::Key_Down, Qt::ControlModifier);
    key(Qt::Key_Right, Qt::ControlModifier);
    // Home only scrolls to the left edge.
    key(Qt::Key_Home);
    EXPECT_EQ(viewer.currentPage(), 3);
    EXPECT_EQ(viewer.scrollOffset(), QPoint(0, 80));
    key(Qt::Key_Home, Qt::ControlModifier);
    EXPECT_EQ(viewer.currentPage(), 1);
    EXPECT_EQ(viewer.scrollOffset(), QPoint(0, 0));
    key(Qt::Key_End, Qt::ControlModifier);
    EXPECT_EQ(viewer.currentPage(), 3);
    key(Qt::Key_PageUp);
    EXPECT_EQ(viewer.currentPage(), 2);
    // First page when already there returns to the top-left corner.
    viewer.firstPage();
    key(Qt::Key_Down);
    key(Qt::Key_Right);
    viewer.firstPage();
    EXPECT_EQ(viewer.scrollOffset(), QPoint(0, 0));
}

TEST_F(FaxViewerTest, MarkingWithTheMouseAndAZeroSizeMark) {
    ASSERT_EQ(viewer.setFileName(threePages()), 0);
    key(Qt::Key_Down);  // scroll offset 8 is added to the pointer
    mouse(QEvent::MouseButtonPress, {50, 40}, Qt::LeftButton);
    mouse(QEvent::MouseMove, {20, 100}, Qt::LeftButton);
    mouse(QEvent::MouseButtonRelease, {20, 100}, Qt::NoButton);
    ASSERT_TRUE(viewer.hasMark());
    EXPECT_EQ(viewer.mark(), QRect(20, 48, 30, 60));
    mouse(QEvent::MouseButtonPress, {70, 70}, Qt::LeftButton);
    mouse(QEvent::MouseButtonRelease, {70, 70}, Qt::NoButton);
    EXPECT_FALSE(viewer.hasMark());
    EXPECT_TRUE(viewer.markImage().isNull());
    EXPECT_FALSE(viewer.copyToClipboard());
}

TEST_F(FaxViewerTest, DraggingBeyondTheEdgeScrollsAndExtendsTheMark) {
    ASSERT_EQ(viewer.setFileName(threePages()), 0);
    mouse(QEvent::MouseButtonPress, {10, 10}, Qt::LeftButton);
    const int below = viewer.viewport()->height() + 40;
    mouse(QEvent::MouseMove, {60, below}, Qt::LeftButton);
    for (int i = 0; i < 400 && viewer.scrollOffset().y() < 64; ++i) QTest::qWait(10);
    EXPECT_GE(viewer.scrollOffset().y(), 64);
    EXPECT_EQ(viewer.scrollOffset().y() % 16, 0);  // two steps a tick, more than 20 pels outside
    mouse(QEvent::MouseButtonRelease, {60, below}, Qt::NoButton);
    const int offset = viewer.scrollOffset().y();
    EXPECT_EQ(viewer.mark().bottom() + 1, std::min(1200, below + offset));
    QTest::qWait(150);
    EXPECT_EQ(viewer.scrollOffset().y(), offset);  // the release stopped it
}

TEST_F(FaxViewerTest, KeysAreIgnoredWhileTheMouseIsCaptured) {
    ASSERT_EQ(viewer.setFileName(threePages()), 0);
    mouse(QEvent::MouseButtonPress, {10, 10}, Qt::LeftButton);
    key(Qt::Key_PageDown);
    EXPECT_EQ(viewer.currentPage(), 1);
    mouse(QEvent::MouseButtonRelease, {10, 10}, Qt::NoButton);
    key(Qt::Key_PageDown);
    EXPECT_EQ(viewer.currentPage(), 2);
}

TEST_F(FaxViewerTest, ACopiedMarkAtHalfHorizontalScaleIsStretchedBackToPagePels) {
    Raster page(1728, 1000);
    fillRect(page, 200, 100, 40, 20);
    fillRect(page, 300, 150, 3, 3);
    ASSERT_EQ(viewer.setFileName(fax({page})), 0);
    viewer.setScaling(true);
    viewer.setScale(1, 2, 1, 1);
    viewer.selectRect(QRect(90, 90, 70, 80));  // display pels: page x 180..320, y 90..170
    ASSERT_TRUE(viewer.copyToClipboard());
    const QImage img = QApplication::clipboard()->image();
    ASSERT_FALSE(img.isNull());
    EXPECT_EQ(img.size(), QSize(140, 80));
    const QImage mark = viewer.markImage();
    EXPECT_EQ(mark.format(), QImage::Format_Mono);
    for (int y = 0; y < 80; ++y)
        for (int x = 0; x < 140; ++x)
            ASSERT_EQ(mark.pixelIndex(x, y) == 1, page.pixel(180 + x, 90 + y)) << x << "," << y;
    EXPECT_EQ(qGray(img.pixel(20 + 5, 10 + 5)), 0);  // inside the block
    EXPECT_EQ(qGray(img.pixel(5, 5)), 255);
    // Unscaled the mark is copied as it is.
    viewer.setScaling(false);
    viewer.selectRect(QRect(190, 95, 60, 30));
    EXPECT_EQ(viewer.markImage().size(), QSize(60, 30));
    viewer.selectAll();
    EXPECT_EQ(viewer.markImage().size(), QSize(1728, 1000));
}

TEST_F(FaxViewerTest, CtrlAMarksThePageAndCtrlCCopiesIt) {
    ASSERT_EQ(viewer.setFileName(fax({barsPage(1, 300)})), 0);
    QApplication::clipboard()->clear();
    key(Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(viewer.mark(), QRect(0, 0, 1728, 300));
    key(Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->image().size(), QSize(1728, 300));
}

TEST_F(FaxViewerTest, PaintsBlackAndWhiteWithTheChosenColours) {
    Raster page(1728, 1000);
    fillRect(page, 0, 0, 100, 100);
    ASSERT_EQ(viewer.setFileName(fax({page})), 0);
    viewer.setFGColor(Qt::red);
    viewer.setBGColor(Qt::yellow);
    const QImage shot = viewer.viewport()->grab().toImage();
    EXPECT_EQ(QColor(shot.pixel(10, 10)), QColor(Qt::red));
    EXPECT_EQ(QColor(shot.pixel(200, 10)), QColor(Qt::yellow));
    viewer.selectRect(QRect(0, 0, 50, 50));
    const QImage marked = viewer.viewport()->grab().toImage();
    EXPECT_NE(QColor(marked.pixel(10, 10)), QColor(Qt::red));  // the mark is drawn inverted
    EXPECT_EQ(QColor(marked.pixel(60, 60)), QColor(Qt::red));
}

TEST_F(FaxViewerTest, ADroppedFileIsLoadedAndReported) {
    const QString first = fax({barsPage(1)}, "a.ovf");
    const QString second = threePages();
    ASSERT_EQ(viewer.setFileName(first), 0);
    QSignalSpy dropped(&viewer, &TOvxFaxViewer::OnDropFile);
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(second)});
    QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    enter.setAccepted(false);
    viewer.dragEnterEvent(&enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    viewer.dropEvent(&drop);
    ASSERT_EQ(dropped.count(), 1);
    EXPECT_EQ(dropped[0][0].toString(), second);
    EXPECT_EQ(viewer.pageCount(), 3);
    viewer.setAcceptDragged(false);
    data.setUrls({QUrl::fromLocalFile(first)});
    QDragEnterEvent refused(QPoint(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    refused.setAccepted(false);
    viewer.dragEnterEvent(&refused);
    EXPECT_FALSE(refused.isAccepted());
    QDropEvent ignored(QPointF(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    viewer.dropEvent(&ignored);
    EXPECT_EQ(dropped.count(), 1);
    EXPECT_EQ(viewer.FileName(), second);
}

TEST_F(FaxViewerTest, APageThatCannotBeDecodedUnloadsTheFax) {
    const QString path = threePages();
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(f.resize(f.size() - 3000));  // page 3 is cut short
    f.close();
    QSignalSpy errors(&viewer, &TOvxFaxViewer::OnViewerError);
    ASSERT_EQ(viewer.setFileName(path), 0);
    viewer.lastPage();
    ASSERT_EQ(errors.count(), 1);
    EXPECT_EQ(errors[0][0].toInt(), errors::ecFaxBadFormat);
    EXPECT_EQ(viewer.pageCount(), 0);
    EXPECT_TRUE(viewer.FileName().isEmpty());
}

}  // namespace

namespace {

// A page whose pels say where they are: 16-pel cells, black when a hash of the cell is odd.
bool cellBlack(int x, int y) {
    const unsigned cx = unsigned(x) / 16, cy = unsigned(y) / 16;
    return ((cx * 2654435761u) ^ (cy * 40503u) ^ (cx * cy)) >> 3 & 1u;
}

Raster cellPage(int width, int height) {
    Raster r(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            if (cellBlack(x, y)) r.setPixel(x, y, true);
    return r;
}

// Counts sample points of the viewport that do not show the page pel at viewport + offset.
int mismatches(const QImage& shot, QPoint offset, const Raster& page) {
    int bad = 0;
    for (int y = 4; y < shot.height() - 4; y += 7)
        for (int x = 4; x < shot.width() - 4; x += 7) {
            const QPoint p = QPoint(x, y) + offset;
            if (p.x() >= page.width || p.y() >= page.height) continue;
            const bool black = qGray(shot.pixel(x, y)) < 128;
            if (black != page.pixel(p.x(), p.y())) ++bad;
        }
    return bad;
}

}  // namespace

// Whatever moves the view (scroll bar values, their arrows and drags, keys, the wheel), the
// window shows the page region at the scroll bars' values, and the bars follow the keys.
TEST_F(FaxViewerTest, ScrollBarsAndTheVisiblePageRegionTrackEachOther) {
    viewer.VertScroll = 8;
    viewer.HorizScroll = 5;
    ASSERT_EQ(viewer.setFileName(fax({cellPage(1728, 1400)})), 0);
    QApplication::processEvents();
    const QSize page(viewer.pageWidth(), viewer.pageHeight());
    ASSERT_GT(page.height(), 1000);
    QScrollBar* h = viewer.horizontalScrollBar();
    QScrollBar* v = viewer.verticalScrollBar();
    const QSize client = viewer.viewport()->size();
    EXPECT_EQ(h->maximum(), page.width() - client.width());
    EXPECT_EQ(v->maximum(), page.height() - client.height());
    EXPECT_EQ(h->value(), 0);
    EXPECT_EQ(v->value(), 0);
    // What the screen shows: the window's backing store, which holds the result of scrolling
    // the content as well as repainting, not a fresh full render.
    auto screen = [&] {
        QApplication::processEvents();
        const QPoint at = viewer.viewport()->mapTo(viewer.window(), QPoint(0, 0));
        return viewer.screen()
            ->grabWindow(viewer.window()->winId(), at.x(), at.y(), client.width(), client.height())
            .toImage();
    };
    auto check = [&](const char* what) {
        SCOPED_TRACE(what);
        const QPoint off(h->value(), v->value());
        EXPECT_EQ(viewer.scrollOffset(), off);
        EXPECT_EQ(mismatches(screen(), off, viewer.pageBitmap()), 0);
    };
    check("top-left");
    for (QPoint target : {QPoint(0, 300), QPoint(700, 300), QPoint(h->maximum(), v->maximum()), QPoint(37, 611)}) {
        h->setValue(target.x());
        v->setValue(target.y());
        EXPECT_EQ(QPoint(h->value(), v->value()), target);
        check("set values");
    }
    // The arrow buttons' actions move one step; a drag to the middle stays in the middle.
    h->setValue(100);
    v->setValue(100);
    // A step of the bars' arrows is big enough to see: a tenth of the view, at least a key step.
    EXPECT_GE(v->singleStep(), std::max(8, client.height() / 10));
    EXPECT_GE(h->singleStep(), std::max(5, client.width() / 10));
    v->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    h->triggerAction(QAbstractSlider::SliderSingleStepSub);
    EXPECT_EQ(viewer.scrollOffset(), QPoint(100 - h->singleStep(), 100 + v->singleStep()));
    check("arrows");
    v->setSliderDown(true);
    v->setSliderPosition(v->maximum() / 2);
    v->setSliderDown(false);
    QApplication::processEvents();
    EXPECT_EQ(v->value(), v->maximum() / 2);
    check("drag to the middle");
    // Keys move the bars with the view.
    key(Qt::Key_Down, Qt::ControlModifier);
    EXPECT_EQ(v->value(), v->maximum() / 2 + 80);
    check("keys");
    // The wheel scrolls the view down by what the bar moved.
    const int before = v->value();
    QWheelEvent wheel(QPointF(50, 50), viewer.viewport()->mapToGlobal(QPointF(50, 50)), QPoint(), QPoint(0, -120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(viewer.viewport(), &wheel);
    EXPECT_GT(v->value(), before);
    check("wheel");
    // Turning the page starts at the top-left corner, bars included.
    viewer.setScale(1, 2, 1, 2);
    viewer.setScaling(true);
    EXPECT_EQ(QPoint(h->value(), v->value()), QPoint(0, 0));
    EXPECT_EQ(v->maximum(), std::max(0, page.height() / 2 - viewer.viewport()->height()));
}

namespace {

// The rows (or columns) of a grabbed scroll bar that belong to its thumb, read from the picture
// alone: the longest run of lines clearly darker than the lightest line of the bar.
std::pair<int, int> thumbRun(const QImage& bar, bool vertical) {
    const int length = vertical ? bar.height() : bar.width();
    const int across = vertical ? bar.width() : bar.height();
    std::vector<int> grey(std::size_t(length), 0);
    for (int i = 0; i < length; ++i) {
        int sum = 0;
        for (int j = across / 3; j < across * 2 / 3; ++j) sum += qGray(vertical ? bar.pixel(j, i) : bar.pixel(i, j));
        grey[std::size_t(i)] = sum / std::max(1, across / 3);
    }
    const int lightest = *std::max_element(grey.begin(), grey.end());
    int best = 0, bestStart = -1, start = -1;
    for (int i = 0; i <= length; ++i) {
        const bool dark = i < length && grey[std::size_t(i)] < lightest - 60;
        if (dark && start < 0) start = i;
        if (!dark && start >= 0) {
            if (i - start > best) best = i - start, bestStart = start;
            start = -1;
        }
    }
    return {bestStart, bestStart + best};
}

}  // namespace

// The thumb is what stands out on the bar, and it sits where the view is: at the top and left
// while the top-left corner shows, at the bottom and right at the far corner.
TEST_F(FaxViewerTest, TheScrollBarThumbsStandOutWhereTheViewIs) {
    ASSERT_EQ(viewer.setFileName(fax({barsPage(3, 2000)})), 0);
    QApplication::processEvents();
    QScrollBar* h = viewer.horizontalScrollBar();
    QScrollBar* v = viewer.verticalScrollBar();
    ASSERT_GT(v->maximum(), 0);
    ASSERT_GT(h->maximum(), 0);
    const auto at = [](QScrollBar* bar) { return thumbRun(bar->grab().toImage(), bar->orientation() == Qt::Vertical); };
    for (QScrollBar* bar : {v, h}) {
        SCOPED_TRACE(bar == v ? "vertical" : "horizontal");
        const int length = bar == v ? bar->height() : bar->width();
        bar->setValue(0);
        const auto [top, end] = at(bar);
        ASSERT_GE(top, 0) << "no thumb stands out";
        EXPECT_LT(top, length / 5);      // near the start (after the arrow button)
        EXPECT_LT(end, length * 4 / 5);  // and not reaching the far end
        bar->setValue(bar->maximum());
        const auto [top2, end2] = at(bar);
        EXPECT_GT(top2, length / 5);
        EXPECT_GT(end2, length * 4 / 5);
        bar->setValue(bar->maximum() / 2);
        const auto [top3, end3] = at(bar);
        EXPECT_GT(top3, top);
        EXPECT_LT(end3, end2);
    }
}
