// Settings file: defaults, number rules, inheritance of receive keys, save order, robustness.
#include <gtest/gtest.h>

#include "support/tempdir.h"

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <fstream>
#include <sstream>

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include "settings/inifile.h"
#include "settings/programdir.h"
#include "settings/settings.h"

namespace fs = std::filesystem;
using namespace telvane;
using namespace telvane::settings;

namespace {

using telvane::test::TempDir;

Settings loadFromText(const std::string& text) {
    Settings s;
    s.load(IniFile::parse(text));
    return s;
}

}  // namespace

TEST(Settings, MissingFileGivesDefaults) {
    TempDir t;
    Settings s;
    s.loadFrom(t.dir());
    EXPECT_EQ(s.Modem.ComPort, -1);
    EXPECT_EQ(s.Modem.FaxClass, 1);
    EXPECT_EQ(s.Modem.MaximumBPS, 9600);
    EXPECT_EQ(s.Dialing.DialAttempts, 3);
    EXPECT_EQ(s.Dialing.RetryWait, 60);
    EXPECT_EQ(s.Receive.AnswerOnRing, 1);
    EXPECT_EQ(s.Receive.PrintOnReceiptPrinter, "Default Windows Printer");
    EXPECT_EQ(s.DefaultFont.Name, "Arial");
    EXPECT_EQ(s.DefaultFont.Size, 10);
    EXPECT_TRUE(s.Hints.On);
    EXPECT_EQ(s.Ports[0], "/dev/ttyS0");
    EXPECT_EQ(s.Ports[4], "/dev/ttyACM0");
    EXPECT_EQ(s.Ports[5], "/dev/ttyUSB0");
}

TEST(Settings, IntegerRules) {
    EXPECT_EQ(loadFromText("[Dialing]\nDialAttempts=0x10\n").Dialing.DialAttempts, 16);
    EXPECT_EQ(loadFromText("[Dialing]\nDialAttempts=0X1f\n").Dialing.DialAttempts, 31);
    EXPECT_EQ(loadFromText("[Dialing]\nDialAttempts=abc\n").Dialing.DialAttempts, 3);
    EXPECT_EQ(loadFromText("[Dialing]\nDialAttempts=0x\n").Dialing.DialAttempts, 3);
    EXPECT_EQ(loadFromText("[Dialing]\nDialAttempts=12abc\n").Dialing.DialAttempts, 3);
    EXPECT_EQ(loadFromText("[Dialing]\nDialAttempts=\n").Dialing.DialAttempts, 3);
    EXPECT_EQ(loadFromText("[Dialing]\nDialAttempts=99999999999\n").Dialing.DialAttempts, 3);
    EXPECT_EQ(loadFromText("[Dialing]\nDialAttempts=-5\n").Dialing.DialAttempts, -5);
    EXPECT_EQ(loadFromText("[Modem]\nComPort= 4 \n").Modem.ComPort, 4);
}

TEST(Settings, BooleansReadAnyNonZeroAndWriteOne) {
    TempDir t;
    t.write("TVN.INI", "[Receive]\nAtStartup=2\n[Hints]\nOn=0\n[Dialing]\nECM=junk\n");
    Settings s;
    s.loadFrom(t.dir());
    EXPECT_TRUE(s.Receive.AtStartup);
    EXPECT_FALSE(s.Hints.On);
    EXPECT_FALSE(s.Dialing.ECM);
    s.saveTo(t.dir());
    const IniFile ini = IniFile::load(t.dir() + "TVN.INI");
    EXPECT_EQ(ini.value("Receive", "AtStartup"), "1");
    EXPECT_EQ(ini.value("Hints", "On"), "0");
}

TEST(Settings, ReceiveKeysInheritSendKeys) {
    const Settings s = loadFromText("[Modem]\nFaxClass=2\nInitString=ATZ\nMaximumBPS=14400\n[Dialing]\nECM=1\n");
    EXPECT_EQ(s.Modem.FaxClassReceive, 2);
    EXPECT_EQ(s.Modem.InitStringReceive, "ATZ");
    EXPECT_EQ(s.Modem.MaximumBPSReceive, 14400);
    EXPECT_TRUE(s.Receive.ECMReceive);
    const Settings own = loadFromText("[Modem]\nFaxClass=2\nFaxClassReceive=1\n");
    EXPECT_EQ(own.Modem.FaxClassReceive, 1);
}

TEST(Settings, SectionAndKeyNamesIgnoreCase) {
    const Settings s = loadFromText("[modem]\ncomport=2\n[USER]\nNAME=Ann\n");
    EXPECT_EQ(s.Modem.ComPort, 2);
    EXPECT_EQ(s.User.Name, "Ann");
}

TEST(Settings, NewFileListsEveryKeyInOrderWithVersion) {
    TempDir t;
    Settings s;
    s.saveTo(t.dir());
    const std::string text = t.read("TVN.INI");
    // Sections appear in the order their first key is written.
    const char* order[] = {"[Receive]",   "[User]",  "[Dialing]", "[Modem]", "[Default Font]",
                           "[Resetting]", "[Hints]", "[Version]", "[Other]", "[Ports]"};
    std::size_t previous = 0;
    bool first = true;
    for (const char* sec : order) {
        const auto at = text.find(sec);
        ASSERT_NE(at, std::string::npos) << sec;
        if (!first) {
            EXPECT_GT(at, previous) << sec;
        }
        previous = at;
        first = false;
    }
    const IniFile ini = IniFile::parse(text);
    EXPECT_EQ(ini.value("Version", "Version"), "2.9y");
    EXPECT_EQ(ini.value("Modem", "ComPort"), "-1");
    // Keys of one section keep the order of the record: Wav, AtStartup, AnswerOnRing, ECMReceive ...
    const auto wav = text.find("Wav="), at = text.find("AtStartup="), ring = text.find("AnswerOnRing="),
               ecm = text.find("ECMReceive="), flag = text.find("DisableReceivingFaxesNotification=");
    EXPECT_LT(wav, at);
    EXPECT_LT(at, ring);
    EXPECT_LT(ring, ecm);
    EXPECT_LT(ecm, flag);
    for (const char* key : {"InitStringReceive=", "GlobalLargerReceiveBuffer=", "UseMotorolaSM56Fix=",
                            "PrintOnReceiptPrinter=Default Windows Printer", "Underline=", "Com6=/dev/ttyUSB0"})
        EXPECT_NE(text.find(key), std::string::npos) << key;
}

TEST(Settings, RoundTripOfEveryKey) {
    TempDir t;
    Settings a;
    a.Receive.Wav = "/home/u/ring.wav";
    a.Receive.AtStartup = true;
    a.Receive.AnswerOnRing = 4;
    a.Receive.ECMReceive = true;
    a.Receive.PrintOnReceipt = true;
    a.Receive.PrintOnReceiptPrinter = "Office Laser";
    a.Receive.DisableReceivingFaxesNotification = true;
    a.User.Fax = "+1 555 0100";
    a.User.Name = "Jane Doe";
    a.User.PrefixDisable = true;
    a.User.SuffixDisable = true;
    a.Dialing.DialPrefix = "9,";
    a.Dialing.DialSuffix = "#";
    a.Dialing.DialAttempts = 7;
    a.Dialing.RetryWait = 120;
    a.Dialing.BlindDial = true;
    a.Dialing.IgnoreBusy = true;
    a.Dialing.ToneOrPulse = 1;
    a.Dialing.Timeout = 90;
    a.Dialing.ECM = false;
    a.Modem.InitString = "AT&F";
    a.Modem.ComPort = 4;
    a.Modem.FaxClass = 3;
    a.Modem.InitStringReceive = "ATZ";
    a.Modem.FaxClassReceive = 2;
    a.Modem.MaximumBPSReceive = 4800;
    a.Modem.MaximumBPS = 14400;
    a.Modem.RenegotiateBetween = true;
    a.DefaultFont = {"Liberation Serif", 12, true, true, true};
    a.Resetting.String = "AT&F";
    a.Resetting.AfterString = "ATH0";
    a.Hints.On = false;
    a.Other = {true, true, true, true, true, true, true, "en_GB"};
    a.Ports[4] = "/dev/ttyACM7";
    a.saveTo(t.dir());

    Settings b;
    b.loadFrom(t.dir());
    EXPECT_EQ(b.Receive.Wav, a.Receive.Wav);
    EXPECT_EQ(b.Receive.AtStartup, a.Receive.AtStartup);
    EXPECT_EQ(b.Receive.AnswerOnRing, 4);
    EXPECT_TRUE(b.Receive.ECMReceive);
    EXPECT_TRUE(b.Receive.PrintOnReceipt);
    EXPECT_EQ(b.Receive.PrintOnReceiptPrinter, "Office Laser");
    EXPECT_TRUE(b.Receive.DisableReceivingFaxesNotification);
    EXPECT_EQ(b.User.Fax, a.User.Fax);
    EXPECT_EQ(b.User.Name, a.User.Name);
    EXPECT_TRUE(b.User.PrefixDisable && b.User.SuffixDisable);
    EXPECT_EQ(b.Dialing.DialPrefix, "9,");
    EXPECT_EQ(b.Dialing.DialSuffix, "#");
    EXPECT_EQ(b.Dialing.DialAttempts, 7);
    EXPECT_EQ(b.Dialing.RetryWait, 120);
    EXPECT_TRUE(b.Dialing.BlindDial && b.Dialing.IgnoreBusy);
    EXPECT_EQ(b.Dialing.ToneOrPulse, 1);
    EXPECT_EQ(b.Dialing.Timeout, 90);
    EXPECT_FALSE(b.Dialing.ECM);
    EXPECT_EQ(b.Modem.InitString, "AT&F");
    EXPECT_EQ(b.Modem.ComPort, 4);
    EXPECT_EQ(b.Modem.FaxClass, 3);
    EXPECT_EQ(b.Modem.InitStringReceive, "ATZ");
    EXPECT_EQ(b.Modem.FaxClassReceive, 2);
    EXPECT_EQ(b.Modem.MaximumBPSReceive, 4800);
    EXPECT_EQ(b.Modem.MaximumBPS, 14400);
    EXPECT_TRUE(b.Modem.RenegotiateBetween);
    EXPECT_EQ(b.DefaultFont.Name, "Liberation Serif");
    EXPECT_EQ(b.DefaultFont.Size, 12);
    EXPECT_TRUE(b.DefaultFont.Bold && b.DefaultFont.Italic && b.DefaultFont.Underline);
    EXPECT_EQ(b.Resetting.String, "AT&F");
    EXPECT_EQ(b.Resetting.AfterString, "ATH0");
    EXPECT_FALSE(b.Hints.On);
    EXPECT_TRUE(b.Other.UseMotorolaSM56Fix && b.Other.ImposeWaitBeforePrinting && b.Other.UseAlternateHeaderFont &&
                b.Other.GlobalUseAlternateNamingRec && b.Other.GlobalLargerSendBuffer &&
                b.Other.GlobalLargerReceiveBuffer);
    EXPECT_EQ(b.Other.SpellLanguage, "en_GB");
    EXPECT_EQ(b.portDevice(4), "/dev/ttyACM7");
    EXPECT_EQ(b.portDevice(6), "");
    EXPECT_EQ(b.portDevice(-1), "");
}

TEST(Settings, LongValuesAreCutAt1023Characters) {
    const std::string longName(3000, 'x');
    const Settings s = loadFromText("[User]\nName=" + longName + "\n");
    EXPECT_EQ(s.User.Name.size(), 1023u);
}

TEST(Settings, GarbageFileLoadsAndKeepsForeignContent) {
    TempDir t;
    const std::string garbage =
        "this is not ini\r\n[Modem]\r\nComPort=2\r\nno equals here\r\n=novalue\r\n[Modem]\r\nComPort=5\r\n"
        "[Dialing\r\nDialAttempts=abc\r\n\xff\xfe\x80 binary=\x81\r\n[Mine]\r\nKeep=me\r\n[User]\r\nName=\xe9t\xe9\r\n";
    t.write("TVN.INI", garbage);
    Settings s;
    s.loadFrom(t.dir());
    EXPECT_EQ(s.Modem.ComPort, 2);  // the first of duplicate sections wins
    EXPECT_EQ(s.Dialing.DialAttempts, 3);
    EXPECT_EQ(s.User.Name, "\xe9t\xe9");  // bytes kept as they are
    s.Modem.ComPort = 3;
    s.saveTo(t.dir());
    const std::string after = t.read("TVN.INI");
    EXPECT_NE(after.find("[Mine]\r\nKeep=me\r\n"), std::string::npos);
    EXPECT_NE(after.find("this is not ini\r\n"), std::string::npos);
    EXPECT_NE(after.find("Name=\xe9t\xe9\r\n"), std::string::npos);
    Settings again;
    again.loadFrom(t.dir());
    EXPECT_EQ(again.Modem.ComPort, 3);
    EXPECT_EQ(again.User.Name, "\xe9t\xe9");
}

TEST(Settings, LfEndingsStayLf) {
    TempDir t;
    t.write("TVN.INI", "[Modem]\nComPort=1\n");
    Settings s;
    s.loadFrom(t.dir());
    s.saveTo(t.dir());
    EXPECT_EQ(t.read("TVN.INI").find('\r'), std::string::npos);
}

// A refused write names the file: a directory standing where the file should be (refused for
// root too) and, for other users, a read-only data directory (root ignores its permissions).
TEST(Settings, UnwritablePathNamesTheFile) {
    TempDir t;
    fs::create_directory(t.dir() + "TVN.INI");
    fs::create_directory(t.dir() + "TVN.INI/x");
    Settings s;
    try {
        s.saveTo(t.dir());
        FAIL() << "save succeeded";
    } catch (const IniError& e) {
        EXPECT_NE(std::string(e.what()).find("TVN.INI"), std::string::npos) << e.what();
    }
    if (::geteuid() == 0) return;
    TempDir ro;
    ::chmod(ro.dir().c_str(), 0555);
    try {
        s.saveTo(ro.dir());
        FAIL() << "save into a read-only directory succeeded";
    } catch (const IniError& e) {
        EXPECT_NE(std::string(e.what()).find(ro.dir() + "TVN.INI"), std::string::npos) << e.what();
    }
}

TEST(Settings, PrintOptionsAreTheirOwnSection) {
    TempDir t;
    PrintOptions p;
    p.loadFrom(t.dir());
    EXPECT_FALSE(p.MultiPage || p.Header || p.Footer || p.Stretch);
    p.MultiPage = true;
    p.Footer = true;
    p.saveTo(t.dir());
    Settings s;
    s.saveTo(t.dir());  // the settings save keeps the print options
    PrintOptions q;
    q.loadFrom(t.dir());
    EXPECT_TRUE(q.MultiPage);
    EXPECT_FALSE(q.Header);
    EXPECT_TRUE(q.Footer);
    EXPECT_FALSE(q.Stretch);
}

TEST(Settings, ClassNamesAndSpeeds) {
    EXPECT_EQ(FaxClassName(0), "AutoDetect");
    EXPECT_EQ(FaxClassName(1), "Class 1");
    EXPECT_EQ(FaxClassName(2), "Class 2");
    EXPECT_EQ(FaxClassName(3), "Class 2.0");
    EXPECT_EQ(FaxClassName(4), "unknown");
    EXPECT_EQ(FaxClassName(-1), "unknown");
    const int speeds[] = {2400, 4800, 7200, 9600, 12000, 14400};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(speedFromIndex(i), speeds[i]);
        EXPECT_EQ(indexFromSpeed(speeds[i]), i);
    }
    EXPECT_EQ(speedFromIndex(6), 9600);
    EXPECT_EQ(speedFromIndex(-1), 9600);
    EXPECT_EQ(indexFromSpeed(28800), 3);
}

TEST(ProgramDirTest, EnvironmentThenExecutableDirThenXdg) {
    TempDir home, exe, xdg;
    ::setenv("TELVANE_HOME", (home.dir() + "data").c_str(), 1);
    EXPECT_EQ(resolveProgramDir(exe.dir() + "telvane"), home.dir() + "data/");
    EXPECT_TRUE(fs::is_directory(home.dir() + "data"));
    ::unsetenv("TELVANE_HOME");
    EXPECT_EQ(resolveProgramDir(exe.dir() + "telvane"), exe.dir());
    ::setenv("XDG_DATA_HOME", xdg.dir().c_str(), 1);
    // An executable directory that cannot be written: the XDG directory is used.
    EXPECT_EQ(resolveProgramDir("/nonexistent-telvane-dir/telvane"), xdg.dir() + "telvane/");
    EXPECT_TRUE(fs::is_directory(xdg.dir() + "telvane"));
    ::unsetenv("XDG_DATA_HOME");
}

TEST(ProgramDirTest, InstalledOrReadOnlyDirectoriesAreNeverTheDataDirectory) {
    // System prefixes are refused whoever runs the program (root may write there).
    EXPECT_FALSE(isPortableInstallDir("/usr/bin"));
    EXPECT_FALSE(isPortableInstallDir("/usr/local/bin"));
    EXPECT_FALSE(isPortableInstallDir("/opt/telvane/bin"));
    EXPECT_FALSE(isPortableInstallDir("relative/dir"));
    TempDir exe;
    EXPECT_TRUE(isPortableInstallDir(exe.dir()));
    // A directory without the owner's write bit is read-only even for root.
    fs::permissions(exe.dir(), fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_FALSE(isPortableInstallDir(exe.dir()));
    TempDir xdg;
    ::unsetenv("TELVANE_HOME");
    ::setenv("XDG_DATA_HOME", xdg.dir().c_str(), 1);
    EXPECT_EQ(resolveProgramDir(exe.dir() + "telvane"), xdg.dir() + "telvane/");
    EXPECT_EQ(resolveProgramDir("/usr/bin/telvane"), xdg.dir() + "telvane/");
    // The data directory is private.
    EXPECT_EQ(fs::status(xdg.dir() + "telvane").permissions() & fs::perms::all, fs::perms::owner_all);
    fs::permissions(xdg.dir() + "telvane", fs::perms::all);
    EXPECT_EQ(resolveProgramDir("/usr/bin/telvane"), xdg.dir() + "telvane/");
    EXPECT_EQ(fs::status(xdg.dir() + "telvane").permissions() & fs::perms::all, fs::perms::owner_all);
    ::unsetenv("XDG_DATA_HOME");
}

TEST(ProgramDirTest, WithoutHomeNoSharedDirectoryIsUsed) {
    const char* oldHome = std::getenv("HOME");
    const std::string savedHome = oldHome ? oldHome : "";
    ::unsetenv("TELVANE_HOME");
    ::unsetenv("XDG_DATA_HOME");
    ::unsetenv("HOME");
    TempDir exe;
    fs::permissions(exe.dir(), fs::perms::owner_read | fs::perms::owner_exec);
    const std::string dir = resolveProgramDir(exe.dir() + "telvane");
    if (oldHome) ::setenv("HOME", savedHome.c_str(), 1);
    EXPECT_NE(dir.rfind("/tmp/", 0), 0u) << dir;  // neither /tmp/telvane/ nor any other shared place
    if (!dir.empty()) {
        struct stat st {};
        ASSERT_EQ(::stat(dir.c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, ::geteuid());
        EXPECT_EQ(st.st_mode & 077, 0u);
    }
}

TEST(IniFileTest, SettingsFileIsPrivateToItsOwner) {
    TempDir d;
    d.write("TVN.INI.tmp", "left over");
    fs::permissions(d.dir() + "TVN.INI.tmp", fs::perms::all);
    IniFile ini;
    ini.writeString("Modem", "ComPort", "1");
    ini.save(d.dir() + "TVN.INI");
    EXPECT_EQ(fs::status(d.dir() + "TVN.INI").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
}

TEST(IniFileTest, StrayCarriageReturnsReadBackAsWritten) {
    // Lines ending in several CRs, and a value ending in CR and blanks: what is written must
    // read back to the same text (the line ends must not flip between LF and CRLF).
    for (const std::string& input : {std::string("[M]\n \r\r;cT\r\r\nk=a\r \r\n", 20), std::string("a\r\r\nb=c\r\n")}) {
        const IniFile ini = IniFile::parse(input);
        const std::string written = ini.text();
        EXPECT_EQ(IniFile::parse(written).text(), written);
    }
    EXPECT_EQ(IniFile::parse("[S]\nk=a\r \r\n").readString("S", "k", "?"), "a");
}

// TELVANE_HOME and the XDG directory follow one rule: a directory of this user that others may
// use is made private; one of another user, or a link, is refused with the reason.
TEST(ProgramDirTest, DataDirectoryOthersCanUseIsTightenedOrRefused) {
    struct Case {
        const char* what;
        uid_t owner;  // 0: this user
        mode_t mode;
        bool link;
        bool accepted;
        const char* said;
    };
    const Case cases[] = {
        {"own, world-writable", 0, 0777, false, true, "now 0700"},
        {"own, group-readable", 0, 0750, false, true, "now 0700"},
        {"own, private", 0, 0700, false, true, ""},
        {"link to a private directory", 0, 0700, true, false, "symbolic link"},
        {"another user's, world-writable", 65534, 0777, false, false, "another user"},
        {"another user's, sticky like /tmp", 65534, 01777, false, false, "another user"},
    };
    for (const bool viaXdg : {false, true}) {
        for (const Case& c : cases) {
            // Only root can hand a directory to another user.
            if (c.owner != 0 && ::geteuid() != 0) continue;
            SCOPED_TRACE(std::string(c.what) + (viaXdg ? " (XDG)" : " (TELVANE_HOME)"));
            TempDir t, exe;
            fs::permissions(exe.dir(), fs::perms::owner_read | fs::perms::owner_exec);  // not portable
            const std::string data = t.dir() + "telvane";
            const std::string real = c.link ? t.dir() + "real" : data;
            ASSERT_EQ(::mkdir(real.c_str(), 0700), 0);
            if (c.link) fs::create_directory_symlink(real, data);
            if (c.owner != 0) {
                ASSERT_EQ(::chown(real.c_str(), c.owner, c.owner), 0);
            }
            ASSERT_EQ(::chmod(real.c_str(), c.mode), 0);
            if (viaXdg) {
                ::unsetenv("TELVANE_HOME");
                ::setenv("XDG_DATA_HOME", t.dir().c_str(), 1);
            } else {
                ::setenv("TELVANE_HOME", data.c_str(), 1);
            }
            std::string report;
            const std::string dir = resolveProgramDir(exe.dir() + "telvane", &report);
            ::unsetenv("TELVANE_HOME");
            ::unsetenv("XDG_DATA_HOME");
            struct stat st {};
            ASSERT_EQ(::stat(real.c_str(), &st), 0);
            if (c.accepted) {
                EXPECT_EQ(dir, data + "/");
                EXPECT_EQ(st.st_mode & 07777, 0700u);
            } else {
                EXPECT_EQ(dir, "");
                EXPECT_EQ(st.st_mode & 07777, c.mode);  // another user's directory is left as it was
                EXPECT_NE(report.find(data), std::string::npos) << report;
                EXPECT_NE(report.find("TELVANE_HOME"), std::string::npos) << report;
            }
            EXPECT_NE(report.find(c.said), std::string::npos) << report;
            if (!*c.said) {
                EXPECT_EQ(report, "");
            }
            if (c.owner != 0) ::chown(real.c_str(), ::geteuid(), ::getegid());  // so the TempDir can go
        }
    }
}

TEST(ProgramDirTest, MissingDataDirectoryIsCreatedPrivate) {
    TempDir t;
    const mode_t oldMask = ::umask(022);
    ::setenv("TELVANE_HOME", (t.dir() + "a/b").c_str(), 1);
    const std::string dir = resolveProgramDir(t.dir() + "telvane");
    ::umask(oldMask);
    ::unsetenv("TELVANE_HOME");
    EXPECT_EQ(dir, t.dir() + "a/b/");
    struct stat st {};
    ASSERT_EQ(::stat((t.dir() + "a/b").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
}

// Anything but a plain file of a sane size is not read (a FIFO would block the start, a device
// such as /dev/zero would fill memory), and a save never overwrites what was not read.
TEST(IniFileTest, OnlyAPlainSettingsFileOfBoundedSizeIsRead) {
    const std::string settings = "[Modem]\nComPort=2\n";
    struct Case {
        const char* what;
        std::function<void(const TempDir&)> plant;
        const char* said;
    };
    const Case cases[] = {
        {"link to a settings file",
         [&](const TempDir& t) {
             t.write("elsewhere.ini", settings);
             fs::create_symlink(t.dir() + "elsewhere.ini", t.dir() + "TVN.INI");
         },
         "symbolic link"},
        {"link to /dev/zero", [](const TempDir& t) { fs::create_symlink("/dev/zero", t.dir() + "TVN.INI"); },
         "symbolic link"},
        {"FIFO", [](const TempDir& t) { ASSERT_EQ(::mkfifo((t.dir() + "TVN.INI").c_str(), 0600), 0); },
         "not a regular file"},
        {"oversized file",
         [&](const TempDir& t) { t.write("TVN.INI", settings + ";" + std::string(IniFile::kMaxFileSize, 'x') + "\n"); },
         "larger than"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir t;
        c.plant(t);
        const IniFile ini = IniFile::load(t.dir() + "TVN.INI");
        EXPECT_EQ(ini.value("Modem", "ComPort"), std::nullopt);
        EXPECT_NE(ini.refusal().find(t.dir() + "TVN.INI"), std::string::npos) << ini.refusal();
        EXPECT_NE(ini.refusal().find(c.said), std::string::npos) << ini.refusal();
        Settings s;
        s.loadFrom(t.dir());
        EXPECT_EQ(s.Modem.ComPort, -1);
        struct stat before {
        }, after{};
        ASSERT_EQ(::lstat((t.dir() + "TVN.INI").c_str(), &before), 0);
        EXPECT_THROW(s.saveTo(t.dir()), IniError);
        ASSERT_EQ(::lstat((t.dir() + "TVN.INI").c_str(), &after), 0);
        EXPECT_EQ(after.st_ino, before.st_ino);
        EXPECT_EQ(after.st_size, before.st_size);
    }
    // Up to the bound a file is read.
    TempDir t;
    t.write("TVN.INI", settings + ";" + std::string(IniFile::kMaxFileSize - settings.size() - 2, 'x') + "\n");
    EXPECT_EQ(IniFile::load(t.dir() + "TVN.INI").value("Modem", "ComPort"), "2");
}

// Links planted under the settings file's name or beside it are replaced or ignored, never
// written through.
TEST(IniFileTest, SaveWritesThroughNoPlantedLink) {
    TempDir t, outside;
    outside.write("target", "untouched");
    fs::create_symlink(outside.dir() + "target", t.dir() + "TVN.INI.tmp");
    IniFile ini;
    ini.writeString("Modem", "ComPort", "1");
    ini.save(t.dir() + "TVN.INI");
    EXPECT_EQ(outside.read("target"), "untouched");
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(t.dir() + "TVN.INI")));
    EXPECT_EQ(IniFile::load(t.dir() + "TVN.INI").value("Modem", "ComPort"), "1");
}
