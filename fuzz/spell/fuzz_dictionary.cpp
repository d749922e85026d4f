// libFuzzer target for the dictionary reader: any file, opened as main and as user dictionary, must
// answer lookups, suggestions and additions without crashing or hanging (bad child numbers, cycles,
// truncated nodes, absurd headers), with node caches that never outgrow twice the file (however
// many dictionaries it chains), and the in-memory reader must walk it to an end.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "compose/spell/dictformat.h"
#include "compose/spell/tacropspell.h"

using namespace telvane::spell;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = "/tmp/telvane-fuzz-dict-" + std::to_string(::getpid()) + ".dct";
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    auto write = [&] {
        FILE* f = std::fopen(path.c_str(), "wb");
        if (!f) return false;
        std::fwrite(data, 1, size, f);
        std::fclose(f);
        return true;
    };
    if (!write()) return 0;
    {
        TAcropSpell spell;
        spell.DictionaryName = path;
        spell.isWord("HELLO");
        spell.isWord("AB'S");
        spell.suggest("ABABAB");
        spell.suggest("Kat");
        if (spell.cacheBytes() > 2 * size) __builtin_trap();
    }
    {
        TAcropSpell spell;
        spell.DictionaryName = "/nonexistent/telvane.dct";
        const int n = spell.openUserDictionary(path);
        if (n >= 0) {
            spell.addWord("ZEBRA", n);
            spell.addWord("ZEBRAS", n);
            spell.isWord("ZEBRAS");
            spell.suggest("ZEBRO");
        }
    }
    for (const DictionaryImage& img : readDictionaryImages(bytes)) wordsOf(img);
    return 0;
}
