// The help window: bundled HTML pages, one per help context number, shown in a browser window.
// showHelp(context) opens (or raises) the one help window at that page; a context without a page
// shows the contents page with a note. Pages live in the resource ":/help/<context>.html".
#pragma once

#include <QWidget>

class QTextBrowser;

namespace telvane::app {

// Help contexts of the main window's Help menu.
constexpr int kHelpContents = 1009;
constexpr int kHelpFaq = 911;
constexpr int kHelpTechnical = 10000;
constexpr int kHelpSupport = 1025;

class THelpWindow : public QWidget {
    Q_OBJECT
public:
    explicit THelpWindow(QWidget* parent = nullptr);
    // Shows the page of a context; false when there is none (the contents page is shown instead).
    bool showContext(int context);
    int context() const { return context_; }
    QTextBrowser* browser() const { return browser_; }

    static QString pagePath(int context);
    static bool hasPage(int context);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QTextBrowser* browser_;
    int context_ = 0;
    bool placed_ = false;
};

// Opens the program's help window at a context and returns it.
THelpWindow* showHelp(int context);

}  // namespace telvane::app
