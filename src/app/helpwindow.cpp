// Help window over the bundled help pages.
#include "app/helpwindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QPointer>
#include <QTextBrowser>
#include <QVBoxLayout>

#include "app/placement.h"
#include "app/programdir.h"
#include "app/uihelpers.h"

static void initHelpResources() { Q_INIT_RESOURCE(help); }

namespace telvane {

THelpWindow::THelpWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    initHelpResources();
    setObjectName(QStringLiteral("HelpWindow"));
    setWindowTitle(QStringLiteral("Telvane Help"));
    setAttribute(Qt::WA_DeleteOnClose);
    browser_ = new QTextBrowser(this);
    browser_->setObjectName(QStringLiteral("HelpBrowser"));
    browser_->setOpenExternalLinks(true);
    browser_->setSearchPaths({QStringLiteral(":/help")});
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(browser_);
    resize(560, 480);
}

QString THelpWindow::pagePath(int context) { return QStringLiteral(":/help/%1.html").arg(context); }

bool THelpWindow::hasPage(int context) {
    initHelpResources();
    return QFile::exists(pagePath(context));
}

bool THelpWindow::showContext(int context) {
    const bool found = hasPage(context);
    context_ = found ? context : kHelpContents;
    browser_->setSource(QUrl(QStringLiteral("qrc") + pagePath(context_)));
    if (!found) {
        QTextCursor cursor(browser_->document());
        cursor.insertHtml(QStringLiteral("<p><i>There is no help page for this topic (%1). "
                                         "The contents are shown instead.</i></p>")
                              .arg(context));
    }
    if (!placed_ && !ProgramDir().empty()) {
        placed_ = true;
        RestoreWindowPlacement(this, ProgramDir());
    }
    return found;
}

void THelpWindow::closeEvent(QCloseEvent* event) {
    if (!ProgramDir().empty()) KeepWindowPlacement(this, ProgramDir());
    event->accept();
}

THelpWindow* ShowHelp(int context) {
    static QPointer<THelpWindow> window;
    // Asked from a modal dialog, the window belongs to that dialog: a window outside it would be
    // blocked, shown but neither scrollable nor closable until the dialog ends.
    QWidget* modal = QApplication::activeModalWidget();
    if (!window)
        window = new THelpWindow(modal ? modal : mainWindow());
    else if (modal && window->parentWidget() != modal && !modal->isAncestorOf(window))
        window->setParent(modal, Qt::Window);
    window->showContext(context);
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

}  // namespace telvane
