// Where the program keeps its files (ProgramDir): $TELVANE_HOME when set; else the executable's
// directory when it is a portable install (see isPortableInstallDir); else $XDG_DATA_HOME/telvane/
// (by default ~/.local/share/telvane/, with the account's home directory when $HOME is unset).
// $TELVANE_HOME and the XDG directory follow one rule: created 0700 when missing; otherwise a
// directory (not a link) owned by this user, tightened to 0700 when others may use it. A
// directory of another user is refused. The result always ends with '/'. Empty when no private
// directory can be found: the program then refuses to start rather than use a shared place.
#pragma once

#include <string>

namespace telvane::settings {

// `report`, when given, receives the reason of a refusal (empty result) or a notice that the
// directory was tightened; it is empty when there is nothing to say.
std::string resolveProgramDir(const std::string& executablePath, std::string* report = nullptr);

// True for a directory this user owns and may write that is not under a system prefix (/usr,
// /opt, ...) nor on a read-only mount: an installed program never writes beside itself.
bool isPortableInstallDir(const std::string& dir);

// The resolved directory of this run; set once at start-up.
void setProgramDir(const std::string& dir);
const std::string& ProgramDir();

// "<ProgramDir>receive/": received fax files.
std::string receiveDir();

}  // namespace telvane::settings
