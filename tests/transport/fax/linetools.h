// Helpers of the line tests: running our tools and the peers as child processes with time
// limits, making short fax files, and decoding fax files and TIFFs into PBM rasters to compare.
#pragma once

#include <string>
#include <vector>

#include "support/tempdir.h"

namespace linetest {

struct Child {
    int Pid = -1;
    std::string Out, Err;  // files receiving stdout and stderr
};

// Starts `argv` with stdout/stderr into files in `dir`, named after `tag`.
Child Start(const std::vector<std::string>& argv, const std::string& dir, const std::string& tag);
// Waits at most `seconds`; kills the child (SIGKILL) when it is still running. Returns the
// exit status, or -1 when it had to be killed.
int Wait(Child& c, int seconds);
void Signal(const Child& c, int sig);
std::string Slurp(const std::string& path);
// Waits until `path` exists (or `seconds` pass).
bool WaitForPath(const std::string& path, int seconds);
// Waits until the file at `path` contains `text`.
bool WaitForText(const std::string& path, const std::string& text, int seconds);

std::string Bin(const std::string& tool);   // $TELVANE_BIN/tool
bool HaveProgram(const std::string& name);  // on PATH

using TempDir = telvane::test::TempDir;

// A one-page fax file of a few text lines, standard or fine.
// linesPerPage 0: a full-length page.
void MakePage(const std::string& ovf, const std::string& text, bool fine, const TempDir& dir, int linesPerPage = 12);
// PBM rasters (whole files) of every page of a fax file / of a TIFF.
std::vector<std::string> FaxPages(const std::string& ovf, const TempDir& dir);
std::vector<std::string> TiffPages(const std::string& tif, const TempDir& dir);
// Rows of a PBM raster after the first `skipRows` (for peers that stamp their own header).
std::string PbmRows(const std::string& pbm, int skipRows, int* width = nullptr, int* height = nullptr);

}  // namespace linetest
