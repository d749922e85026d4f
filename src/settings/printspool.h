// The print spool: where the "Telvane" print queue leaves a user's printed jobs for that user's
// Telvane. One private directory per user: $TELVANE_PRINT_SPOOL/<user> when that variable is set
// (an administrator's choice, given to cupsd with SetEnv; tests use it), otherwise
// <home>/.local/share/telvane/printjobs. A job appears complete or not at all: it is written as
// ".<name>.part", synced and renamed to "job-<id>-<title>.pdf" ("job-<id>.pdf" when the job has no
// title; ".ps" for PostScript), and it stays until the user has made a fax of it or discarded it.
#pragma once

#include <string>

#include <sys/types.h>

namespace telvane::settings {

// The spool directory of `user` (home: that user's home directory; spoolRoot: the value of
// TELVANE_PRINT_SPOOL or null). No trailing slash. Empty when neither gives a place.
std::string printSpoolDir(const std::string& user, const std::string& home, const char* spoolRoot);

// True for the name of a complete job ("job-<digits>[-<title>].pdf" or ".ps"); partial files start
// with '.'.
bool isPrintJobName(const std::string& name);

// The name a job is stored under: "job-<id>-<title>" and ".pdf" or ".ps". The title is the one the
// printing program gave (a document's file name, a web page's title): its own extension goes, a
// slash or control character becomes '_', and it is cut to 80 bytes, whole UTF-8 characters.
std::string printJobFileName(const std::string& jobId, const std::string& title, bool postScript);

// What a user is shown for a stored job: its title with the job's extension ("letter.pdf" for
// "job-7-letter.pdf"); the name itself for a job without a title.
std::string printJobTitle(const std::string& name);

// Makes `dir` (and the missing directories above it) with mode 0700, then checks that it is a
// directory owned by `uid`, not a symbolic link, and tightens it to 0700. Empty on success,
// otherwise the reason.
std::string makePrivateDir(const std::string& dir, uid_t uid);

}  // namespace telvane::settings
