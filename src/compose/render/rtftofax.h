// Rendering RTF files into a fax file outside the program, for telvane-faxconv: the render core
// (faxrenderer.h) works in a private directory beside the output, and the finished file is moved
// into place in one step.
// Guarantees: no output file is made unless the whole fax was rendered (an existing output stays
// as it was); the working directory is removed on every path, also when SIGINT, SIGTERM or SIGHUP
// (left at their default by the caller) end the process during the render, and those of renders
// that were killed outright are removed by the next render beside the same output.
#pragma once

#include <QString>

namespace telvane::render {

// Renders RTF files (an empty cover path: no cover) into the fax file `outputPath`. Needs a
// QGuiApplication. Returns true on success; otherwise `error` holds the failure or the
// no-contents message, and no output file is made.
bool renderRtfToFaxFile(const QString& documentPath, const QString& coverPath, const QString& outputPath,
                        QString& error, int* pageCount = nullptr);

}  // namespace telvane::render
