// On-the-fly conversion of documents to fax files for sending.
#include "documents.h"

#include "faximage/childprocess.h"
#include "faximage/signalcleanup.h"

#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace telvane::faximage;

std::string lowerExtension(const std::string& path) {
    std::string ext = fs::path(path).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return ext;
}

}  // namespace

DocumentConverter::~DocumentConverter() {
    if (tempDir_.empty()) return;
    std::error_code ec;
    fs::remove_all(tempDir_, ec);
    forgetOnSignal(tempSlot_);
}

std::string DocumentConverter::faxFileFor(const std::string& path, std::string& error) {
    if (lowerExtension(path) == ".ovf") return path;
    if (::access(path.c_str(), R_OK) != 0) {
        error = "cannot read '" + path + "'";
        return {};
    }
    if (tempDir_.empty()) {
        tempDir_ = makeWorkDir("telvane-fax");
        if (tempDir_.empty()) {
            error = "cannot create a temporary directory";
            return {};
        }
        cleanUpOnSignals();
        tempSlot_ = removeOnSignal(tempDir_, true);
    }
    const std::string out = tempDir_ + "/document" + std::to_string(++count_) + ".ovf";
    // telvane-faxconv keeps its own limits; it gets SIGTERM when this process ends, so that it
    // removes what it left half done and stops its own children.
    ChildLimits limits;
    limits.deathSignal = SIGTERM;
    limits.tmpDir = tempDir_;  // its own temporaries go with this directory
    const ChildResult result = runChild({siblingProgram("telvane-faxconv"), "to-fax", path, out, "--fine"}, limits);
    if (!result.started) {
        error = "cannot run telvane-faxconv to convert '" + path + "'";
        return {};
    }
    if (!result.exitedWith(0)) {
        error = "could not convert '" + path + "' to a fax file";
        return {};
    }
    return out;
}
