// Where an installed program finds its read-only shared files. An install lays out
// PREFIX/bin/telvane and PREFIX/share/telvane/ (dictionary, sounds, ...); the build tree keeps
// the same files beside the executables in build/bin/. Results always end with '/'.
#pragma once

#include <string>

namespace telvane::settings {

// The running executable's absolute path (from /proc/self/exe; empty when it cannot be read).
std::string currentExecutablePath();

// True when the executable sits in PREFIX/bin/ of an installed tree, i.e. PREFIX/share/telvane/
// exists beside that bin/ directory. Such a program never keeps its data beside itself.
bool isInstalledLayout(const std::string& executablePath);

// PREFIX/share/telvane/ for an installed executable, otherwise the executable's own directory
// (the build tree's bin/).
std::string sharedDataDirFor(const std::string& executablePath);

// sharedDataDirFor(currentExecutablePath()), computed once.
const std::string& sharedDataDir();

}  // namespace telvane::settings
