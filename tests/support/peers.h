// Outside programs the tests use as peers (netpbm, libtiff tools, poppler, efax, LibreOffice,
// tesseract) and the programs this project builds.
//
// A test that needs a peer calls TELVANE_REQUIRE_PEER. Under CI (the environment variable CI is
// set) a missing peer fails the test, so a machine without it can never pass by skipping; on a
// developer's machine the test is skipped with a loud note naming the Debian package.
#pragma once

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace telvane::test {

// True when `name` is an executable on PATH.
bool haveProgram(const std::string& name);
// A program this project builds: $TELVANE_BIN/name (the build's bin directory).
std::string toolPath(const std::string& name);
// True when the tests run under CI.
bool underCi();
// Runs a shell command; returns its exit status (-1 when it could not run or was killed).
int runCommand(const std::string& command);
// Runs a shell command and returns what it wrote to standard output; `status` gets its exit status.
std::string commandOutput(const std::string& command, int* status = nullptr);
// Runs a shell command with its standard error joined to standard output; returns its exit status
// (-1 when it could not run or was killed), `output` gets what it wrote.
int runCapture(const std::string& command, std::string* output = nullptr);

// Says loudly on standard error that a peer is missing (the test is then skipped).
void announceMissingPeer(const std::string& what);

}  // namespace telvane::test

// Skips the test (outside CI) or fails it (under CI) when `available` is false. `what` may be a
// stream expression ("efax" << " is needed").
#define TELVANE_REQUIRE_PEER(available, what)                                                             \
    do {                                                                                                  \
        if (!(available)) {                                                                               \
            std::ostringstream telvane_peer_;                                                             \
            telvane_peer_ << what;                                                                        \
            if (::telvane::test::underCi()) GTEST_FAIL() << "missing test peer: " << telvane_peer_.str(); \
            ::telvane::test::announceMissingPeer(telvane_peer_.str());                                    \
            GTEST_SKIP() << "missing test peer: " << telvane_peer_.str();                                 \
        }                                                                                                 \
    } while (0)
