// Outside programs and project tools for tests (see peers.h).
#include "support/peers.h"

#include <cstdio>
#include <cstdlib>

#include <sys/wait.h>

namespace telvane::test {

bool haveProgram(const std::string& name) { return runCommand("command -v '" + name + "' >/dev/null 2>&1") == 0; }

std::string toolPath(const std::string& name) {
    const char* bin = std::getenv("TELVANE_BIN");
    return std::string(bin && *bin ? bin : TELVANE_BINARY_DIR "/bin") + "/" + name;
}

bool underCi() {
    const char* ci = std::getenv("CI");
    return ci && *ci && std::string(ci) != "0" && std::string(ci) != "false";
}

void announceMissingPeer(const std::string& what) {
    std::fprintf(stderr, "\n*** SKIPPED (not allowed under CI): missing test peer: %s ***\n\n", what.c_str());
}

int runCommand(const std::string& command) {
    const int status = std::system(command.c_str());
    if (status == -1 || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

std::string commandOutput(const std::string& command, int* status) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) {
        if (status) *status = -1;
        return out;
    }
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    const int rc = ::pclose(pipe);
    if (status) *status = (rc != -1 && WIFEXITED(rc)) ? WEXITSTATUS(rc) : -1;
    return out;
}

int runCapture(const std::string& command, std::string* output) {
    int status = -1;
    std::string out = commandOutput(command + " 2>&1", &status);
    if (output) *output = std::move(out);
    return status;
}

}  // namespace telvane::test
