// Where the program keeps its files (ProgramDir): $TELVANE_HOME when set; else the executable's
// directory when it is writable and not an installed PREFIX/bin (a portable install); else
// $XDG_DATA_HOME/telvane/ (by default ~/.local/share/telvane/). The result always ends with '/', and the directory exists afterwards
// when it could be created.
#pragma once

#include <string>

namespace telvane {

std::string resolveProgramDir(const std::string& executablePath);

// The resolved directory of this run; set once at start-up.
void setProgramDir(const std::string& dir);
const std::string& ProgramDir();

// "<ProgramDir>receive/": received fax files.
std::string receiveDir();

}  // namespace telvane
