// Help window over the bundled help pages.
#include "app/helpwindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QFile>
#include <QPointer>
#include <QShortcut>
#include <QTextBrowser>
#include <QVBoxLayout>

#include "app/placement.h"
#include "settings/programdir.h"
#include "app/uihelpers.h"

static void initHelpResources() { Q_INIT_RESOURCE(help); }

namespace telvane::app {

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
    // Esc closes it, as it closes every other window of the program.
    auto* closeKey = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    closeKey->setContext(Qt::WindowShortcut);
    connect(closeKey, &QShortcut::activated, this, &QWidget::close);
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
    if (!placed_ && !settings::ProgramDir().empty()) {
        placed_ = true;
        restoreWindowPlacement(this, settings::ProgramDir());
    }
    return found;
}

void THelpWindow::closeEvent(QCloseEvent* event) {
    if (!settings::ProgramDir().empty()) keepWindowPlacement(this, settings::ProgramDir());
    event->accept();
}

namespace {

// Moves the help window under another owner, keeping where it is and whether it shows.
void reparentHelp(THelpWindow* window, QWidget* owner) {
    if (!window || window->parentWidget() == owner) return;
    const QRect where = window->geometry();
    const bool shown = window->isVisible();
    window->setParent(owner, Qt::Window);
    window->setGeometry(where);
    if (shown) window->show();
}

}  // namespace

THelpWindow* showHelp(int context) {
    static QPointer<THelpWindow> window;
    // A modal dialog blocks every window but its own: the help window belongs to the dialog that
    // is up (so "Technical Help" can be read beside the error dialog), and goes back to the main
    // window when that dialog closes.
    QWidget* modal = QApplication::activeModalWidget();
    QWidget* owner = modal ? modal : mainWindow();
    if (!window)
        window = new THelpWindow(owner);
    else
        reparentHelp(window, owner);
    if (auto* dialog = qobject_cast<QDialog*>(modal); dialog && !dialog->property("helpReturns").toBool()) {
        dialog->setProperty("helpReturns", true);
        QObject::connect(dialog, &QDialog::finished, dialog, [dialog] {
            if (window && window->parentWidget() == dialog) {
                QWidget* next = QApplication::activeModalWidget();
                reparentHelp(window, next && next != dialog ? next : mainWindow());
            }
        });
    }
    window->showContext(context);
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

}  // namespace telvane::app
