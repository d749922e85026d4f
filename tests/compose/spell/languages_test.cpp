// The main dictionaries in the users' languages: one built for every installed Debian word list,
// each knowing the words of its language (the British one "summarises", the Swiss one "Strasse"
// and not "Straße"), the choice of a language from the locale, and where the dictionary is found.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>

#include "compose/spell/charset.h"
#include "compose/spell/dictformat.h"
#include "compose/spell/dictpath.h"
#include "compose/spell/tacropspell.h"
#include "spelltest.h"
#include "support/peers.h"

using namespace telvane::spell;
using namespace telvane::spell::test;

namespace {

bool exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

std::string programDictionary(const std::string& code) { return TELVANE_BINARY_DIR "/bin/" + dictionaryFileFor(code); }

// The program's dictionaries are those of the build.
class SpellLanguages : public ::testing::Test {
protected:
    void SetUp() override { ::setenv("TELVANE_DICT_DIR", TELVANE_BINARY_DIR "/bin", 1); }
    void TearDown() override { ::unsetenv("TELVANE_DICT_DIR"); }
};

struct Sample {
    const char* code;
    std::vector<const char*> known;  // UTF-8
    std::vector<const char*> unknown;
};

}  // namespace

TEST_F(SpellLanguages, EveryInstalledWordListHasItsDictionaryThatKnowsItsWords) {
    const std::vector<Sample> samples = {
        {"en_US", {"color", "summarizes", "receive"}, {"colour", "summarises"}},
        {"en_GB", {"colour", "summarises", "organisation"}, {"color", "recieve"}},
        {"en_CA", {"colour", "organization"}, {"recieve"}},
        {"de_DE",
         {"Stra\xC3\x9F"
          "e",
          "Gr\xC3\xB6\xC3\x9F"
          "e",
          "\xC3\xBC"
          "ber"},
         {"Strase"}},
        {"de_CH",
         {"Strasse", "Gr\xC3\xB6sse",
          "\xC3\xBC"
          "ber"},
         {"Stra\xC3\x9F"
          "e"}},
        {"fr_FR",
         {"\xC3\xA9t\xC3\xA9", "gar\xC3\xA7on",
          "fran\xC3\xA7"
          "ais"},
         {"garcon"}},
        {"es_ES", {"ni\xC3\xB1o", "coraz\xC3\xB3n"}, {"corazon"}},
        {"it_IT", {"perch\xC3\xA9", "citt\xC3\xA0"}, {"perche"}},
        {"pt_PT", {"cora\xC3\xA7\xC3\xA3o", "a\xC3\xA7\xC3\xA3o"}, {"coracao"}},
        {"pt_BR", {"cora\xC3\xA7\xC3\xA3o", "a\xC3\xA7\xC3\xA3o"}, {"coracao"}},
        {"nl_NL", {"fiets", "huis"}, {"fietss"}},
        {"da_DK", {"b\xC3\xB8ger", "hus"}, {"boger"}},
        {"sv_SE", {"f\xC3\xB6r", "hus"}, {"forr"}},
        {"nb_NO", {"v\xC3\xA6re", "hus"}, {"vaere"}},
        {"nn_NO", {"vere", "hus"}, {"vaere"}},
        {"ca_ES", {"aix\xC3\xB2", "casa"}, {"aixo"}},
    };
    ASSERT_EQ(samples.size(), languages().size());
    for (size_t i = 0; i < samples.size(); ++i) {
        const Language& language = languages()[i];
        const Sample& sample = samples[i];
        ASSERT_STREQ(sample.code, language.code);
        SCOPED_TRACE(language.code);
        const std::string list = std::string("/usr/share/dict/") + language.wordList;
        TELVANE_REQUIRE_PEER(exists(list), list << " (Debian package " << language.package << ")");
        TAcropSpell spell;
        ASSERT_TRUE(spell.openMainDictionary(programDictionary(language.code)));
        for (const char* w : sample.known) EXPECT_TRUE(spell.isWord(*fromUtf8(w))) << w;
        for (const char* w : sample.unknown) EXPECT_FALSE(spell.isWord(*fromUtf8(w))) << w;
    }
}

TEST_F(SpellLanguages, TheLocaleChoosesTheLanguage) {
    const std::vector<std::string> all = {"en_US", "en_GB", "en_CA", "de_DE", "de_CH", "pt_PT", "pt_BR"};
    EXPECT_EQ(languageForLocale("en_GB.UTF-8", all), "en_GB");
    EXPECT_EQ(languageForLocale("en_AU.UTF-8", all), "en_GB");  // British spelling
    EXPECT_EQ(languageForLocale("en_CA", all), "en_CA");
    EXPECT_EQ(languageForLocale("en_US.UTF-8", all), "en_US");
    EXPECT_EQ(languageForLocale("en_PH", all), "en_US");
    EXPECT_EQ(languageForLocale("en", all), "en_US");
    EXPECT_EQ(languageForLocale("de_AT.UTF-8@euro", all), "de_DE");
    EXPECT_EQ(languageForLocale("de_CH.UTF-8", all), "de_CH");
    EXPECT_EQ(languageForLocale("pt_BR.UTF-8", all), "pt_BR");
    EXPECT_EQ(languageForLocale("pt_AO", all), "pt_PT");
    EXPECT_EQ(languageForLocale("ja_JP.UTF-8", all), "en_US");
    EXPECT_EQ(languageForLocale("C.UTF-8", all), "en_US");
    EXPECT_EQ(languageForLocale("", all), "en_US");
    EXPECT_EQ(languageForLocale("en_GB.UTF-8", {"en_US"}), "en_US");  // only what is installed
    EXPECT_EQ(languageForLocale("fr_FR.UTF-8", {"en_US"}), "en_US");
}

TEST_F(SpellLanguages, TheDataDirectoryComesFirstThenTheLanguage) {
    TempDir dir;
    const std::string data = dir.file("");
    EXPECT_EQ(mainDictionaryPath(data, "en_GB"), programDictionary("en_GB"));
    EXPECT_EQ(mainDictionaryPath(data, ""), programDictionary("en_US"));
    EXPECT_EQ(mainDictionaryPath(data, "xx_YY"), programDictionary("en_US"));  // not installed: American
    writeAll(data + "tvn.dct", buildMainDictionary({"OWN"}, "M").bytes);
    EXPECT_EQ(mainDictionaryPath(data, "en_GB"), data + "tvn.dct");
}

TEST_F(SpellLanguages, ABritishUserIsNotToldThatSummarisesIsWrong) {
    TAcropSpell british;
    ASSERT_TRUE(
        british.openMainDictionary(mainDictionaryPath({}, languageForLocale("en_GB.UTF-8", installedLanguages()))));
    for (const char* w : {"summarises", "Summarises", "organised", "colour", "centre", "catalogue"})
        EXPECT_TRUE(british.isWord(w)) << w;
    // The British misspelling still gets British suggestions.
    EXPECT_EQ(british.suggest("sumarises")[0], "summarises");
    EXPECT_EQ(british.suggest("colur")[0], "colour");
}
