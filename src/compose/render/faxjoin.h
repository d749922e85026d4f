// Page files of a rendered fax: the names rendering gives its one-page fax files in the data
// directory, and joining them into the first one by appending the page data of the others.
// Guarantees: an append walks the destination's page headers within the file's size and never
// trusts a header that points past the end; every failure raises telvane::EOvxException with an
// engine code (-2 file missing, -8 no memory, -8001 not an OVF file, other I/O codes); joining
// deletes the appended files only after every append succeeded.
#pragma once

#include <string>
#include <vector>

namespace telvane::render {

// The page bitmap handed to the encoder, overwritten for every page.
inline constexpr const char* kTempBitmapName = "_TMP.BMP";
// Highest n tried for "TVN_" + n + ".OVF".
inline constexpr int kMaxFirstPageNumber = 1000;

// dir + "TVN_" + n + ".OVF" for the smallest n of 1..1000 with no such file, or dir + "TVN1.OVF"
// when all of them exist. dir ends with '/'.
std::string firstPageFileName(const std::string& dir);
// dir + "TVNFX" + pageNumber + ".OVF": the file of a page after the first.
std::string pageFileName(const std::string& dir, int pageNumber);

// Appends the pages of `source` to the end of the last page of `dest` and adds the page counts;
// dest's other header fields stay as they were. Raises EOvxException.
void appendFaxFile(const std::string& dest, const std::string& source);

// Appends files 2..N to the first in order, then deletes files 2..N; returns the first name
// (empty for an empty list). Raises EOvxException; the files are then left as they are.
std::string joinFaxFiles(const std::vector<std::string>& files);

}  // namespace telvane::render
