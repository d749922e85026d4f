// The main window's drawn icons: the program's icon and the button bar's fallbacks for desktop
// themes that lack the standard icons.
#pragma once

#include <QIcon>
#include <QString>

namespace telvane::shell {

enum DrawnIcon { IconNew, IconEdit, IconDelete, IconSend, IconReceive, IconView, IconPrint, IconExit };

// The program's icon: a fax page over a blue tile, at 16, 32, 48 and 64 pixels.
QIcon programIcon();
// The theme's icon `themeName` when the desktop theme has it, else the drawn icon `drawn` (a DrawnIcon).
QIcon buttonIcon(const QString& themeName, int drawn);

}  // namespace telvane::shell
