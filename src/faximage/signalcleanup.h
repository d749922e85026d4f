// What a terminating signal must not leave behind: hidden partial output files, private working
// directories and converter children (a process group of their own). Paths and groups are kept in
// fixed slots so that the handlers use async-signal-safe calls only. Handlers are installed for
// SIGINT, SIGTERM and SIGHUP (each only when the program left it at its default): they end the
// registered groups (SIGTERM, then SIGKILL after two seconds), remove the registered files and
// directories (with their entries), then end the process as the signal asks. A signal given a
// failure message (failOnSignal) does the same cleanup, writes the message to stderr and exits 1.
#pragma once

#include <string>
#include <sys/types.h>

namespace telvane::faximage {

// Registers `path` (a file, or with `directory` a directory emptied and removed) for removal;
// returns the slot to forget, or -1 when the path is too long or every slot is taken.
int removeOnSignal(const std::string& path, bool directory = false);
// Registers a process group to SIGKILL; returns the slot to forget, or -1.
int killGroupOnSignal(pid_t group);
// Forgets a slot (-1 is ignored).
void forgetOnSignal(int slot);

// Installs the handlers for SIGINT, SIGTERM and SIGHUP (idempotent).
void cleanUpOnSignals();
// `sig` (for example SIGALRM for a time limit) cleans up, prints "message\n" and exits with 1.
void failOnSignal(int sig, const std::string& message);

}  // namespace telvane::faximage
