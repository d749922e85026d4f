// Where the spelling dictionaries live. The main dictionary "tvn.dct" ships beside the program (the
// build writes it next to the executables); a copy in the data directory takes precedence so that
// a user can put a dictionary of their own there. The user dictionary "tvnu.dct" lives in the data
// directory and is created there on first use.
#pragma once

#include <string>

namespace telvane::spell {

inline constexpr const char* kMainDictionaryFile = "tvn.dct";
inline constexpr const char* kUserDictionaryFile = "tvnu.dct";

// The main dictionary to open: <dataDir>tvn.dct when it exists, else the one beside the running
// executable, else the installed one; when none exists, the path beside the executable.
// dataDir is empty or ends with '/'.
std::string MainDictionaryPath(const std::string& dataDir = {});
// <dataDir>tvnu.dct
std::string UserDictionaryPath(const std::string& dataDir);

}  // namespace telvane::spell
