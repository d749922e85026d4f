// Checking as you type in a long document: the time to mark a 20-page fax document when it is
// loaded, and the time per typed character in the middle of it (the changed paragraph is checked
// again). Offscreen; measurements only.
#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTextCursor>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "compose/richtext/trichtext.h"
#include "compose/spellcheck/spellasyoutype.h"
#include "app/appstate.h"
#include "settings/programdir.h"

using namespace telvane;

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir home;
    settings::setProgramDir(home.path().toStdString() + "/");
    app::appSettings() = settings::Settings{};

    // About 500 words a page, one misspelling in twenty words, paragraphs of 60 words.
    const QStringList words = QStringLiteral(
                                  "please find attached the signed contract for the new office building and "
                                  "recieve our thanks for your patience during the negotiations we expect the "
                                  "first delivery tomorow morning at the loading dock behind the warehouse")
                                  .split(' ');
    QString text;
    for (int i = 0; i < 20 * 500; ++i) {
        text += words[i % words.size()];
        text += (i % 60 == 59) ? QStringLiteral("\n") : QStringLiteral(" ");
    }
    // The same document and typing without and with the checker.
    for (bool checking : {false, true}) {
        richtext::TRichText part;
        part.resize(800, 1000);
        if (checking) new spellcheck::SpellAsYouType(&part, home.path().toStdString() + "/");
        QElapsedTimer t;
        t.start();
        part.setPlainText(text);
        app.processEvents();
        const double loadMs = t.nsecsElapsed() / 1e6;
        std::vector<double> perKey;
        QTextCursor c(part.document());
        c.setPosition(static_cast<int>(text.size() / 2));
        const QString typed = QStringLiteral("we will send the remaning pages tomorrow ");
        for (int i = 0; i < 300; ++i) {
            t.restart();
            c.insertText(typed.mid(i % typed.size(), 1));
            app.processEvents();
            perKey.push_back(t.nsecsElapsed() / 1e3);
        }
        std::sort(perKey.begin(), perKey.end());
        std::printf(
            "%s: 20-page document (%d words, %lld paragraphs) loaded in %.1f ms; typing in its middle: "
            "median %.0f us, p95 %.0f us per character (incl. layout)\n",
            checking ? "checking as you type" : "without checking   ", 20 * 500,
            static_cast<long long>(part.document()->blockCount()), loadMs, perKey[perKey.size() / 2],
            perKey[perKey.size() * 95 / 100]);
    }
    return 0;
}
