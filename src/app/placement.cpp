// Saving and restoring window placement.
#include "app/placement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include "settings/settings.h"
#include "app/uihelpers.h"

namespace telvane::app {
namespace {

QScreen* screenOf(QWidget* w) {
    QScreen* s = w->screen();
    return s ? s : QGuiApplication::primaryScreen();
}

std::string sectionFor(QWidget* w) {
    QScreen* s = screenOf(w);
    const int ppi = s ? qRound(s->logicalDotsPerInch()) : 96;
    // The class name without its C++ namespace: "TMainScreen_Placement", not "telvane::shell::TMainScreen_Placement".
    QString name = QString::fromLatin1(w->metaObject()->className());
    name = name.mid(name.lastIndexOf(QLatin1Char(':')) + 1);
    return placementSection(name, ppi).toStdString();
}

}  // namespace

QString placementSection(const QString& className, int pixelsPerInch) {
    QString section = className + QStringLiteral("_Placement");
    if (pixelsPerInch > 96) section += QString::number(pixelsPerInch);
    return section;
}

QRect clampToScreen(QRect r, const QSize& screen) {
    if (r.left() + r.width() > screen.width()) {
        r.moveLeft(screen.width() - r.width());
        if (r.left() < 0) r.moveLeft(1);
    }
    if (r.top() + r.height() > screen.height()) {
        r.moveTop(screen.height() - r.height());
        if (r.top() < 0) r.moveTop(1);
    }
    return r;
}

void saveWindowPlacement(QWidget* window, const std::string& programDir) {
    const std::string path = settings::settingsPath(programDir);
    settings::IniFile ini = settings::IniFile::load(path);
    const std::string section = sectionFor(window);
    const QRect r = window->isMaximized() || window->isMinimized() ? window->normalGeometry() : window->geometry();
    ini.writeInteger(section, "Left", r.left());
    ini.writeInteger(section, "Top", r.top());
    ini.writeInteger(section, "Right", r.left() + r.width());
    ini.writeInteger(section, "Bottom", r.top() + r.height());
    ini.writeBool(section, "Maximized", window->isMaximized());
    ini.save(path);
}

void keepWindowPlacement(QWidget* window, const std::string& programDir) {
    try {
        saveWindowPlacement(window, programDir);
    } catch (const settings::IniError&) {
        // The window closes all the same.
    }
}

void restoreWindowPlacement(QWidget* window, const std::string& programDir) {
    const settings::IniFile ini = settings::IniFile::load(settings::settingsPath(programDir));
    const std::string section = sectionFor(window);
    const int left = ini.readInteger(section, "Left", 0);
    const int top = ini.readInteger(section, "Top", 0);
    const int right = ini.readInteger(section, "Right", 0);
    const int bottom = ini.readInteger(section, "Bottom", 0);
    if (ini.readBool(section, "Maximized", window->isMaximized())) {
        window->setWindowState(window->windowState() | Qt::WindowMaximized);
        return;
    }
    QRect r(QPoint(left, top), QPoint(right - 1, bottom - 1));
    if (bottom == 0) {
        centerDialog(window);
        r = window->geometry();
    }
    QScreen* s = screenOf(window);
    const QSize screen = s ? s->geometry().size() : QSize(1024, 768);
    r = clampToScreen(r, screen);
    window->setGeometry(r);
}

}  // namespace telvane::app
