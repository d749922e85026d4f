// Window placement kept in the settings file, in the section "<class name>_Placement", followed by
// the screen's pixels per inch when that is above 96, so each screen density keeps its own placement.
#pragma once

#include <QRect>
#include <QString>

class QWidget;

namespace telvane::app {

QString placementSection(const QString& className, int pixelsPerInch);

// The rectangle moved inside a screen of the given size: a right edge beyond the width moves the
// rectangle left; a left edge then below 0 goes to 1. The same vertically.
QRect clampToScreen(QRect rect, const QSize& screen);

// Save throws IniError when the settings file cannot be written; a missing or unreadable file
// restores the design placement.
void saveWindowPlacement(QWidget* window, const std::string& programDir);
void restoreWindowPlacement(QWidget* window, const std::string& programDir);
// Save for windows that are closing: placement is a convenience, so a settings file that cannot
// be written loses the placement and nothing else.
void keepWindowPlacement(QWidget* window, const std::string& programDir);

}  // namespace telvane::app
