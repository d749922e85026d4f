// libFuzzer target: an RTF document rendered into a fax file the way telvane-faxconv to-fax and
// the send path do it (rich-text load, pagination, painting, page encoding, joining). Any input
// must end in a fax file (with no page files left behind) or a failure with an engine code.
#include "compose/render/faxrenderer.h"

#include <QGuiApplication>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

// A private working directory of this process, removed at exit (the name is kept on the heap
// so that it outlives the static objects destroyed before the exit handler runs).
const std::string& workDir() {
    static const std::string* dir = [] {
        std::string t = (std::filesystem::temp_directory_path() / "telvane-fuzz-render-XXXXXX").string();
        if (!::mkdtemp(t.data())) std::abort();
        auto* d = new std::string(t + "/");
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(*dir, ec);
        });
        return d;
    }();
    return *dir;
}

}  // namespace

// fontconfig keeps its pattern caches until the process ends; they are not ours to free.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static int argc = 1;
    static char name[] = "fuzz_rtfrender";
    static char* argv[] = {name, nullptr};
    if (!QGuiApplication::instance()) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        new QGuiApplication(argc, argv);
    }
    telvane::render::FaxRenderer renderer;
    const QByteArray rtf(reinterpret_cast<const char*>(data), qsizetype(size));
    const telvane::render::FaxFileResult r = renderer.CreateFaxFile(workDir(), telvane::render::partsFromRtf({}, rtf));
    if (!r.fileName.empty()) std::filesystem::remove(r.fileName);
    // A finished render leaves only its fax file (page files and the page bitmap are gone); a
    // failed one may keep its page files, which are cleared for the next input.
    bool leftOver = false;
    for (const auto& e : std::filesystem::directory_iterator(workDir())) {
        leftOver = true;
        std::filesystem::remove_all(e.path());
    }
    if (leftOver && !r.failed()) std::abort();
    return 0;
}
