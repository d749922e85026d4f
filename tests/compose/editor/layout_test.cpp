// The windows as a newcomer first sees them: every caption fits its control, nothing lies outside
// its window except tool-bar controls that scroll into view, and the editors fit an 800 by 600
// screen; the browsers keep their tab order and hints. With TELVANE_SCREENSHOT_DIR set, each
// window is also saved there as a PNG for a look by eye.
#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>

#include "compose/cover/tcoverbrowse.h"
#include "compose/cover/tcovereditor.h"
#include "compose/editor/tenteredit.h"
#include "compose/editor/tfaxeditor.h"
#include "compose/editorkit/toolbarscroller.h"
#include "compose/phonebook/tphonebook.h"
#include "compose/phonebook/tphonebookeditor.h"
#include "compose/richtext/trichtoolbar.h"
#include "app/loggrid.h"
#include "compose/editors_fixture.h"

namespace telvane::editortest {
namespace {

using LayoutTest = EditorsTest;

void saveShot(QWidget& window, const QString& name) {
    const QString dir = qEnvironmentVariable("TELVANE_SCREENSHOT_DIR");
    if (!dir.isEmpty()) window.grab().save(dir + QLatin1Char('/') + name + QStringLiteral(".png"));
}

// What the user sees once the window has had its pending layout and paint events.
void settle() { QCoreApplication::processEvents(); }

// Visible buttons and labels whose text needs more room than they have, or that stick out of the window.
QStringList clippedControls(QWidget& window) {
    settle();
    QStringList clipped;
    const QRect inside = window.rect();
    for (QWidget* w : window.findChildren<QWidget*>()) {
        if (!w->isVisible()) continue;
        const bool text = qobject_cast<QAbstractButton*>(w) || qobject_cast<QLabel*>(w);
        const QString name =
            w->objectName().isEmpty() ? QString::fromLatin1(w->metaObject()->className()) : w->objectName();
        if (text && (w->width() < w->minimumSizeHint().width() || w->height() < w->minimumSizeHint().height()))
            clipped << name + QStringLiteral(" too small (%1x%2, needs %3x%4; window %5, parent %6 needs %7)")
                                  .arg(w->width())
                                  .arg(w->height())
                                  .arg(w->minimumSizeHint().width())
                                  .arg(w->minimumSizeHint().height())
                                  .arg(window.width())
                                  .arg(w->parentWidget()->width())
                                  .arg(w->parentWidget()->minimumSizeHint().width());
        // What a tool-bar holder scrolls into view is reachable even when it lies beyond the window edge.
        bool scrolled = false;
        for (QWidget* p = w->parentWidget(); p && p != &window && !scrolled; p = p->parentWidget())
            scrolled = qobject_cast<editorkit::TToolBarScroller*>(p) != nullptr;
        const QRect onWindow(w->mapTo(&window, QPoint(0, 0)), w->size());
        if (!scrolled && !inside.contains(onWindow)) clipped << name + QStringLiteral(" outside");
    }
    return clipped;
}

// Names of the grid and push buttons in the order Tab visits them, from the window itself on.
QStringList tabOrder(QWidget& window) {
    QStringList names;
    for (QWidget* w = window.nextInFocusChain(); w != &window; w = w->nextInFocusChain())
        if (qobject_cast<QPushButton*>(w) || qobject_cast<app::TLogGrid*>(w)) names << w->objectName();
    return names;
}

QStringList hints(QWidget& window, const QStringList& names) {
    QStringList out;
    for (const QString& name : names) out << window.findChild<QWidget*>(name)->toolTip();
    return out;
}

TEST_F(LayoutTest, BrowsersKeepTheirTabOrderHintsAndDefaultButton) {
    records::RecordSet coverTable;
    records::TXbAccess coverXb(coverTable);
    ASSERT_TRUE(records::OpenCoverDBF(dir(), coverTable, coverXb));
    cover::TCoverBrowse covers(coverTable, coverXb, dir());
    EXPECT_EQ(tabOrder(covers), (QStringList{"CoverGrid", "NewButton", "ModifyButton", "CloneButton", "DeleteButton",
                                             "AcceptButton", "CancelButton", "CloseButton", "HelpButton"}));
    EXPECT_EQ(
        hints(covers, {"AcceptButton", "CancelButton", "CloseButton", "HelpButton"}),
        (QStringList{"Use this cover sheet template", "Cancel - do not use any of these templates",
                     "Close the Cover Sheet Template Browser", "Open the help for Cover Sheet Template Browser"}));
    EXPECT_TRUE(covers.CloseButton->isDefault());
    covers.setPickMode(true);
    EXPECT_TRUE(covers.AcceptButton->isDefault());

    phonebook::TPhoneBook book(dir());
    EXPECT_EQ(tabOrder(book), (QStringList{"PhoneGrid", "NewButton", "EditButton", "DeleteButton", "AcceptButton",
                                           "CancelButton", "CloseButton", "HelpButton"}));
    EXPECT_EQ(hints(book, {"AcceptButton", "CancelButton", "CloseButton", "HelpButton"}),
              (QStringList{"Use this phone book entry", "Cancel - do not use any of these phone book entries",
                           "Close the Phone Book Browser", "Open the help for Phonebook Browser"}));
    EXPECT_TRUE(book.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(covers.windowFlags() & Qt::WindowCloseButtonHint);
}

TEST_F(LayoutTest, FaxEditorPagesShowEveryControlWhole) {
    editor::TFaxEditor editor(dir());
    editor.show();
    EXPECT_LE(editor.minimumSizeHint().width(), 800);
    EXPECT_LE(editor.minimumSizeHint().height(), 600);
    editor.Recipient->setText("Jones & Co");
    editor.FaxNumber->setText("555-0199");
    editor.Subject->setText("Quarterly figures");
    EXPECT_TRUE(clippedControls(editor).isEmpty()) << clippedControls(editor).join(", ").toStdString();
    saveShot(editor, "fax-editor-recipient");
    editor.CoverButton->click();
    editor.RichCover->insertPlainText("Cover sheet");
    EXPECT_TRUE(clippedControls(editor).isEmpty()) << clippedControls(editor).join(", ").toStdString();
    saveShot(editor, "fax-editor-cover");
    editor.DocumentButton->click();
    EXPECT_TRUE(clippedControls(editor).isEmpty()) << clippedControls(editor).join(", ").toStdString();
    saveShot(editor, "fax-editor-document");

    // Narrower than its tool bar, the window scrolls the bar instead of squeezing it.
    editor.CoverButton->click();
    editor.resize(520, editor.height());
    EXPECT_TRUE(clippedControls(editor).isEmpty()) << clippedControls(editor).join(", ").toStdString();
    auto* scroller = editor.findChild<editorkit::TToolBarScroller*>("RichToolCoverScroller");
    ASSERT_NE(scroller, nullptr);
    EXPECT_TRUE(scroller->scrolling());
    saveShot(editor, "fax-editor-narrow");
    editor.resize(1400, editor.height());
    settle();
    EXPECT_FALSE(scroller->scrolling());
}

TEST_F(LayoutTest, CoverWindowsShowEveryControlWhole) {
    addTemplate("Letterhead", writeAllFields);
    records::RecordSet covers;
    records::TXbAccess xb(covers);
    ASSERT_TRUE(records::OpenCoverDBF(dir(), covers, xb));
    {
        cover::TCoverBrowse browse(covers, xb, dir());
        browse.setPickMode(true);
        browse.show();
        EXPECT_TRUE(clippedControls(browse).isEmpty()) << clippedControls(browse).join(", ").toStdString();
        saveShot(browse, "cover-browser-pick");
    }
    cover::TCoverEditor editor(dir());
    editor.show();
    EXPECT_LE(editor.minimumSizeHint().width(), 800);
    richtext::LoadRichText(*editor.RichCover, "COVER", xb, dir());
    editor.CoverDescription->setText("Letterhead");
    EXPECT_TRUE(clippedControls(editor).isEmpty()) << clippedControls(editor).join(", ").toStdString();
    saveShot(editor, "cover-editor");
    covers.close();
}

TEST_F(LayoutTest, PhoneBookWindowsShowEveryControlWhole) {
    addPhone("Jones", "555-0100");
    phonebook::TPhoneBook book(dir());
    ASSERT_TRUE(book.openTable());
    book.setPickMode(false);
    book.show();
    EXPECT_TRUE(clippedControls(book).isEmpty()) << clippedControls(book).join(", ").toStdString();
    saveShot(book, "phone-book");
    phonebook::TPhoneBookEditor entry;
    entry.show();
    EXPECT_TRUE(clippedControls(entry).isEmpty()) << clippedControls(entry).join(", ").toStdString();
    saveShot(entry, "phone-book-editor");
}

}  // namespace
}  // namespace telvane::editortest
