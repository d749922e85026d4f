// The configuration report: against a fake probe for the edge cases (colour counts in the locale's
// grouping, only one session log, blank process names, the programs that matter to fax, the serial
// devices and their COM numbers, the selected port's device), the settings lines against a known TVN.INI, the window's copy and save, the Linux
// probe against a prepared file tree and against this machine, and "telvane --config-report".
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>

#include <unistd.h>

#include "maintenance/configinfo.h"
#include "maintenance/configreport.h"
#include "maintenance/linuxprobe.h"
#include "app/appstate.h"
#include "settings/inifile.h"
#include "settings/programdir.h"
#include "app/singleinstance.h"
#include "app/uihelpers.h"
#include "support/datadir.h"

namespace telvane::maintenance {
namespace {

QApplication* app() {
    static int argc = 1;
    static char name[] = "maintenance_report_test";
    static char* argv[] = {name, nullptr};
    static QApplication* a = new QApplication(argc, argv);
    return a;
}

class FakeProbe : public SystemProbe {
public:
    QLocale loc{QLocale::English, QLocale::UnitedStates};
    ScreenInfo scr{1280, 1024, 16, 96};
    bool haveScreen = true;
    std::optional<std::vector<SerialDevice>> devices = std::vector<SerialDevice>{};
    std::vector<ProcessEntry> procs;
    bool saver = false;

    QLocale locale() const override { return loc; }
    QDate today() const override { return QDate(2026, 12, 9); }
    QString osName() const override { return "Debian GNU/Linux 13 (trixie)"; }
    QString kernelRelease() const override { return "6.12.0-1-amd64"; }
    QString kernelVersion() const override { return "#1 SMP"; }
    QString machine() const override { return "x86_64"; }
    QString processorModel() const override { return "Test CPU 3000"; }
    std::optional<ScreenInfo> screen() const override {
        return haveScreen ? std::optional<ScreenInfo>(scr) : std::nullopt;
    }
    std::optional<MemoryInfo> memory() const override {
        MemoryInfo m;
        m.loadPercent = 25;
        m.physTotal = 8000000000ull;
        m.physAvailable = 6000000000ull;
        m.swapTotal = 1024;
        m.swapAvailable = 0;
        m.virtualTotal = 8000001024ull;
        m.virtualAvailable = 6000000000ull;
        return m;
    }
    QString userLanguage() const override { return "English"; }
    QString systemLanguage() const override { return "German"; }
    QString userCountry() const override { return "US"; }
    QString systemCountry() const override { return "DE"; }
    bool screenSaverActive() const override { return saver; }
    std::optional<std::vector<SerialDevice>> serialDevices() const override { return devices; }
    std::vector<ProcessEntry> processes() const override { return procs; }
    qint64 ownPid() const override { return 4242; }
};

class ReportTest : public ::testing::Test {
protected:
    void SetUp() override {
        app();
        ASSERT_TRUE(home.isValid());
        dir = telvane::test::useAsProgramDir(home);
    }
    QStringList build(const FakeProbe& probe, const settings::Settings& s = settings::Settings{},
                      const settings::PrintOptions& p = {}) {
        return buildConfigurationReport(probe, s, p, dir);
    }
    void writeFile(const QString& name, const QByteArray& data) {
        QFile f(QString::fromStdString(dir) + name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(data);
    }
    QTemporaryDir home;
    std::string dir;
};

TEST_F(ReportTest, ColourCountsInTheLocalesGrouping) {
    FakeProbe probe;
    QStringList r = build(probe);
    EXPECT_TRUE(r.contains("Video:       \t1280 x 1024 x 65,536 colors"));
    EXPECT_TRUE(r.contains("Font:        \tSmall Fonts in use"));
    EXPECT_TRUE(r.contains("Phys Memory: \tTotal: 8,000,000,000;    Available: 6,000,000,000"));
    EXPECT_TRUE(r.contains("Swap:        \tTotal: 1,024;    Available: 0"));
    probe.loc = QLocale(QLocale::German, QLocale::Germany);
    probe.scr.bitsPerPixel = 24;
    probe.scr.dotsPerInch = 120;
    r = build(probe);
    EXPECT_TRUE(r.contains("Video:       \t1280 x 1024 x 16.777.216 colors"));
    EXPECT_TRUE(r.contains("Font:        \tLarge Fonts in use"));
    EXPECT_EQ(colourCount(32), 16777216);
    EXPECT_EQ(colourCount(15), 32768);
    EXPECT_EQ(colourCount(1), 2);
    EXPECT_EQ(colourCount(30), 30);  // any other depth: the bit count
    probe.scr.dotsPerInch = 144;
    EXPECT_TRUE(build(probe).contains("Font:        \tCustom font size in use"));
}

TEST_F(ReportTest, LinesAndSectionsInOrder) {
    FakeProbe probe;
    probe.saver = true;
    const QStringList r = build(probe);
    ASSERT_GT(r.size(), 60);
    EXPECT_EQ(r[0], "Wednesday, December 9, 2026");
    EXPECT_EQ(r[1], "");
    EXPECT_EQ(r[2], "[Product]");
    EXPECT_EQ(r[3], "Program:     \tTelvane");
    EXPECT_EQ(r[4], "Version:     \t2.9y");
    // The real build date, not a date from another century.
    EXPECT_EQ(r[5], "Build Date:  \t" +
                        QLocale(QLocale::English, QLocale::UnitedStates).toString(buildDate(), QLocale::ShortFormat));
    EXPECT_TRUE(buildDate().isValid());
    EXPECT_GE(buildDate(), QDate(2026, 1, 1));
    EXPECT_LE(buildDate(), QDate::currentDate());
    EXPECT_TRUE(r[6].endsWith("\tv3.04"));
    EXPECT_EQ(r[7], "");
    EXPECT_EQ(r[8], "[Environment]");
    EXPECT_EQ(r[9], "Screen Saver:\tPossible Active Screen Saver Detected");
    EXPECT_EQ(r[10], "System:      \tDebian GNU/Linux 13 (trixie) (version 6.12.0-1-amd64 build:#1 SMP x86_64)");
    EXPECT_EQ(r[11], "CPU:         \tProcessor:  Test CPU 3000");
    const QStringList labels = {"Video:       \t",
                                "Font:        \t",
                                "Memory Load: \t25",
                                "Phys Memory: \tTotal: ",
                                "Swap:        \tTotal: ",
                                "Virt Memory: \tTotal: ",
                                "Language:    \tUser: English;    System: German",
                                "Country:     \tUser: US;    System: DE",
                                "Date Format: \tShort: ",
                                "Time Format: \tShort: "};
    for (int i = 0; i < labels.size(); ++i) EXPECT_TRUE(r[12 + i].startsWith(labels[i])) << r[12 + i].toStdString();
    EXPECT_EQ(r[22], "");
    EXPECT_EQ(r[23], "[Modem Devices]");
    const int settingsHead = r.indexOf("[" + QString::fromStdString(dir) + "TVN.INI]");
    ASSERT_GT(settingsHead, 23);
    EXPECT_EQ(r[settingsHead - 1], "");
    EXPECT_EQ(r[settingsHead - 2], "");
    EXPECT_EQ(r[settingsHead + 2], "{general}");
    int last = settingsHead;
    for (const char* head : {"{sending}", "{receiving}", "{misc}", "{printing}",
                             "[Running Programs Relevant to Fax (Process, Program)]"}) {
        const int at = r.indexOf(head);
        EXPECT_GT(at, last) << head;
        last = at;
    }
    // No session logs: the report ends with the (empty) program list.
    EXPECT_EQ(r.last(), "");
    EXPECT_FALSE(r.join('\n').contains("Session]"));
}

TEST_F(ReportTest, SettingsLinesFromAKnownFile) {
    settings::IniFile ini;
    ini.writeInteger("Modem", "ComPort", 2);
    ini.writeInteger("Dialing", "ToneOrPulse", 1);
    ini.writeString("Resetting", "String", "ATZ");
    ini.writeString("Resetting", "AfterString", "AT&F");
    ini.writeInteger("Modem", "FaxClass", 3);
    ini.writeInteger("Modem", "MaximumBPS", 14400);
    ini.writeString("Modem", "InitString", "AT&FE0");
    ini.writeBool("Dialing", "ECM", true);
    ini.writeString("Dialing", "DialPrefix", "9,");
    ini.writeInteger("Dialing", "DialAttempts", 5);
    ini.writeInteger("Modem", "FaxClassReceive", 7);
    ini.writeInteger("Receive", "AnswerOnRing", 3);
    ini.writeBool("Receive", "AtStartup", true);
    ini.writeString("Receive", "Wav", "/usr/share/sounds/fax.wav");
    ini.writeBool("Other", "UseMotorolaSM56Fix", true);
    ini.writeBool("Printing", "Stretch", true);
    ini.save(dir + "TVN.INI");
    settings::Settings s;
    s.loadFrom(dir);
    settings::PrintOptions p;
    p.loadFrom(dir);
    const QStringList r = build(FakeProbe{}, s, p);
    const int g = r.indexOf("{general}");
    ASSERT_GE(g, 0);
    EXPECT_EQ(r.mid(g, 5), (QStringList{"{general}", "COM Port:             \t3", "Tone/Pulse:           \tPulse",
                                        "Reset String          \tATZ", "Post Reset String:    \tAT&F"}));
    const int snd = r.indexOf("{sending}");
    EXPECT_EQ(r.mid(snd + 1, 6), (QStringList{"Fax Class:            \tClass 2.0", "Max BPS:              \t14400",
                                              "Modem Init:           \tAT&FE0", "ECM:                  \tYes",
                                              "Dial Prefix:          \t9,", "Dial Suffix:          \t"}));
    EXPECT_EQ(r[snd + 7], "Dial Attempts:        \t5");
    EXPECT_EQ(r[snd + 13], "Larger send buffer    \tNo");
    const int rcv = r.indexOf("{receiving}");
    EXPECT_EQ(rcv, snd + 14);
    EXPECT_EQ(r[rcv + 1], "Receive Fax Class:    \tunknown");
    EXPECT_EQ(r[rcv + 2], "Receive Max BPS:      \t14400");  // mirrors the send value
    EXPECT_EQ(r[rcv + 4], "Answer On Ring:       \t3");
    EXPECT_EQ(r[rcv + 5], "Receive Startup:      \tYes");
    EXPECT_EQ(r[rcv + 7], "WAV File:             \t/usr/share/sounds/fax.wav");
    const int misc = r.indexOf("{misc}");
    EXPECT_EQ(misc, rcv + 12);
    EXPECT_EQ(r[misc + 1], "SM56 Fix              \tYes");
    EXPECT_EQ(r[misc + 3], "ShowHint:             \tYes");
    EXPECT_EQ(r[misc + 5], "Program Path          \t" + QString::fromStdString(dir));
    const int pr = r.indexOf("{printing}");
    EXPECT_EQ(r.mid(pr + 1, 4), (QStringList{"Print Multi           \tNo", "Print Header          \tNo",
                                             "Print Footer          \tNo", "Print Stretch         \tYes"}));
}

// Only what can hold a modem or answer a call is listed: modem managers, dial-up and serial
// programs, other fax software, and this program's own processes.
TEST_F(ReportTest, RunningProgramsThatMatterToFaxSupport) {
    FakeProbe probe;
    probe.procs = {{1, "zsh", "zsh"},
                   {2, "   ", "blank"},
                   {3, "", "empty"},
                   {4, "Xorg", "Xorg"},
                   {5, "telvane", "telvane"},
                   {4242, "telvane", "telvane"},
                   {6, "telvane-virtual", "telvane-virtual-line"},
                   {7, "kworker/0:1", "kworker/0:1"},
                   {8, "bash", "bash"},
                   {9, "ModemManager", "ModemManager"},
                   {10, "ModemManager", "ModemManager"},
                   {11, "faxgetty", "faxgetty"},
                   {12, "pool-1", "efax"},
                   {13, "modemmanager-x", "x"},
                   {14, "efaxer", "efaxer"}};
    const QStringList entries = runningProgramEntries(probe.procs, probe.ownPid());
    EXPECT_EQ(entries, (QStringList{"faxgetty  (faxgetty)", "ModemManager  (ModemManager)", "pool-1  (efax)",
                                    "telvane  (telvane)", "telvane  (telvane)  this program",
                                    "telvane-virtual  (telvane-virtual-line)"}));
    const QStringList r = build(probe);
    const int head = r.indexOf("[Running Programs Relevant to Fax (Process, Program)]");
    ASSERT_GE(head, 0);
    EXPECT_EQ(r.mid(head + 2, entries.size()), entries);
}

TEST_F(ReportTest, OnlyTheSessionLogsThatExist) {
    FakeProbe probe;
    writeFile("Lastrec.log", "Receive mode started\r\nFinish: Wednesday\r\n");
    QStringList r = build(probe);
    EXPECT_EQ(r.mid(r.size() - 6),
              (QStringList{"", "[Last Receive Session]", "", "Receive mode started", "Finish: Wednesday", ""}));
    EXPECT_FALSE(r.contains("[Last Send Session]"));
    writeFile("Lastsend.log", "Dialing 555\r\n");
    r = build(probe);
    const int send = r.indexOf("[Last Send Session]");
    const int rec = r.indexOf("[Last Receive Session]");
    ASSERT_GE(send, 0);
    EXPECT_LT(send, rec);
    EXPECT_EQ(r[send + 2], "Dialing 555");
}

TEST_F(ReportTest, SerialDevicesWithTheirComNumbers) {
    FakeProbe probe;
    settings::Settings s;
    s.Ports[4] = "/dev/ttyACM0";
    probe.devices = std::vector<SerialDevice>{{"/dev/ttyACM0", "U.S.Robotics", "USB Modem", "0baf:0303", "cdc_acm"},
                                              {"/dev/ttyS0", "", "", "", "serial8250"}};
    s.Modem.ComPort = 4;
    QStringList r = build(probe, s);
    const int head = r.indexOf("[Modem Devices]");
    ASSERT_GE(head, 0);
    EXPECT_EQ(r.mid(head, 11),
              (QStringList{"[Modem Devices]", "", r[head + 2], "", "Manufacturer:         \tU.S.Robotics",
                           "Model:                \tUSB Modem (USB 0baf:0303)", "Driver:               \tcdc_acm",
                           "Port:                 \t/dev/ttyACM0 (COM5)", "", "Driver:               \tserial8250",
                           "Port:                 \t/dev/ttyS0 (COM1)"}));
    EXPECT_TRUE(r[head + 2].startsWith("Selected Port:        \tCOM5  /dev/ttyACM0")) << r[head + 2].toStdString();
    // The device list cannot be read: the section keeps only the selected port.
    probe.devices = std::nullopt;
    r = build(probe, s);
    const int unread = r.indexOf("[Modem Devices]");
    ASSERT_GE(unread, 0);
    EXPECT_EQ(r.mid(unread, 5), (QStringList{"[Modem Devices]", "", r[unread + 2], "", ""}));
    probe.devices = std::vector<SerialDevice>{};
    r = build(probe, s);
    const int empty = r.indexOf("[Modem Devices]");
    EXPECT_EQ(r.mid(empty, 6), (QStringList{"[Modem Devices]", "", r[empty + 2], "", "", ""}));
}

// The modem section names the device the sessions open for the selected port, through the port
// map (the virtual line's link and the pseudo-terminal behind it), not a device of the list.
TEST_F(ReportTest, SelectedPortIsTheDeviceTheSessionOpens) {
    QTemporaryDir scratch;
    const QString pty = scratch.filePath("pts-7");
    const QString line = scratch.filePath("virtual-modem");
    QFile(pty).open(QIODevice::WriteOnly);
    ASSERT_TRUE(QFile::link(pty, line));
    FakeProbe probe;
    probe.devices = std::vector<SerialDevice>{{"/dev/ttyS0", "", "", "", "serial8250"}};
    settings::Settings s;
    s.Ports[1] = line.toStdString();
    s.Modem.ComPort = 1;
    const QStringList r = build(probe, s);
    EXPECT_TRUE(r.contains("Selected Port:        \tCOM2  " + line + " -> " + pty)) << r.join('\n').toStdString();
    EXPECT_TRUE(r.contains("Port:                 \t/dev/ttyS0 (COM1)"));
    s.Ports[1] = scratch.filePath("unplugged").toStdString();
    EXPECT_TRUE(
        build(probe, s).contains("Selected Port:        \tCOM2  " + scratch.filePath("unplugged") + "  (not present)"));
}

// A prepared tree in place of /: os-release, meminfo, cpuinfo, serial nodes with their sysfs
// entries, and processes of this user.
TEST_F(ReportTest, LinuxProbeReadsAPreparedTree) {
    QTemporaryDir root;
    const QString R = root.path();
    const auto put = [&R](const QString& path, const QByteArray& data) {
        QDir().mkpath(QFileInfo(R + path).path());
        QFile f(R + path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(data);
    };
    const auto link = [&R](const QString& target, const QString& path) {
        QDir().mkpath(QFileInfo(R + path).path());
        ASSERT_TRUE(QFile::link(target, R + path));
    };
    put("/etc/os-release", "NAME=\"Debian\"\nPRETTY_NAME=\"Debian GNU/Linux 13 (trixie)\"\n");
    put("/proc/meminfo",
        "MemTotal:       1000 kB\nMemFree:         100 kB\nMemAvailable:    250 kB\n"
        "SwapTotal:       400 kB\nSwapFree:        100 kB\n");
    put("/proc/cpuinfo",
        "processor\t: 0\nmodel name\t: Example CPU @ 2.00GHz\n\nprocessor\t: 1\n"
        "model name\t: Example CPU @ 2.00GHz\n");
    put("/etc/default/locale", "LANG=\"de_DE.UTF-8\"\n");
    // ttyS0 and ttyS10 have a UART, ttyS1 is a placeholder without hardware, sysfs says nothing of
    // ttyS2; ttyACM0 is a USB modem.
    for (const char* n : {"ttyS0", "ttyS1", "ttyS2", "ttyS10", "ttyACM0"}) put(QStringLiteral("/dev/") + n, "");
    put("/sys/class/tty/ttyS0/type", "4\n");
    put("/sys/class/tty/ttyS1/type", "0\n");
    put("/sys/class/tty/ttyS10/type", "4\n");
    put("/sys/devices/usb1/1-1/idVendor", "0baf\n");
    put("/sys/devices/usb1/1-1/idProduct", "0303\n");
    put("/sys/devices/usb1/1-1/manufacturer", "U.S.Robotics\n");
    put("/sys/devices/usb1/1-1/product", "USB Modem\n");
    QDir().mkpath(R + "/sys/devices/usb1/1-1/1-1:1.0");
    QDir().mkpath(R + "/sys/bus/usb/drivers/cdc_acm");
    link(R + "/sys/bus/usb/drivers/cdc_acm", "/sys/devices/usb1/1-1/1-1:1.0/driver");
    QDir().mkpath(R + "/sys/class/tty/ttyACM0");
    link(R + "/sys/devices/usb1/1-1/1-1:1.0", "/sys/class/tty/ttyACM0/device");
    link(R + "/dev/ttyACM0", "/dev/serial/by-id/usb-USR_Modem-if00");
    // Processes: one of this user, one of another user, one with a blank name.
    const QByteArray mine = "Name:\tx\nUid:\t" + QByteArray::number(getuid()) + "\t0\t0\t0\n";
    put("/proc/100/status", mine);
    put("/proc/100/comm", "efax\n");
    link("/usr/bin/efax-real", "/proc/100/exe");
    put("/proc/101/status", "Name:\ty\nUid:\t" + QByteArray::number(getuid() + 1) + "\t0\t0\t0\n");
    put("/proc/101/comm", "ModemManager\n");
    put("/proc/102/status", mine);
    put("/proc/102/comm", "   \n");

    LinuxProbe probe(R);
    EXPECT_EQ(probe.osName(), "Debian GNU/Linux 13 (trixie)");
    EXPECT_EQ(probe.processorModel(), "Example CPU @ 2.00GHz (2 processors)");
    const auto mem = probe.memory();
    ASSERT_TRUE(mem);
    EXPECT_EQ(mem->physTotal, 1024000u);
    EXPECT_EQ(mem->physAvailable, 256000u);
    EXPECT_EQ(mem->loadPercent, 75);
    EXPECT_EQ(mem->swapAvailable, 102400u);
    EXPECT_EQ(mem->virtualTotal, 1433600u);
    EXPECT_EQ(probe.systemLanguage(), "German");
    EXPECT_EQ(probe.systemCountry(), "DE");
    const auto devices = probe.serialDevices();
    ASSERT_TRUE(devices);
    // The discovery rule of the preferences: by-id links first, natural order, a ttyS* whose type
    // cannot be read kept.
    QStringList paths;
    for (const SerialDevice& d : *devices) paths << d.path.mid(R.size());
    EXPECT_EQ(paths, (QStringList{"/dev/serial/by-id/usb-USR_Modem-if00", "/dev/ttyACM0", "/dev/ttyS0", "/dev/ttyS2",
                                  "/dev/ttyS10"}));
    ASSERT_EQ(devices->size(), 5u);
    EXPECT_EQ((*devices)[1].manufacturer, "U.S.Robotics");
    EXPECT_EQ((*devices)[1].product, "USB Modem");
    EXPECT_EQ((*devices)[1].usbId, "0baf:0303");
    EXPECT_EQ((*devices)[1].driver, "cdc_acm");
    EXPECT_EQ((*devices)[0].usbId, "0baf:0303");
    const auto procs = probe.processes();
    // Another user's processes too: a modem manager runs as root.
    ASSERT_EQ(procs.size(), 3u);
    QStringList names;
    for (const auto& p : procs) names << p.name + "|" + p.program;
    names.sort(Qt::CaseInsensitive);
    EXPECT_EQ(names, (QStringList{"efax|efax-real", "ModemManager|ModemManager", "|"}));
    EXPECT_EQ(runningProgramEntries(procs, 0), (QStringList{"efax  (efax-real)", "ModemManager  (ModemManager)"}));
    // The by-id link and the device it names map to the same COM number.
    settings::Settings s;
    s.Ports[0] = (R + "/dev/ttyACM0").toStdString();
    FakeProbe fake;
    fake.devices = devices;
    const QStringList r = buildConfigurationReport(fake, s, {}, dir);
    EXPECT_TRUE(r.contains("Port:                 \t" + R + "/dev/serial/by-id/usb-USR_Modem-if00 (COM1)"));
    EXPECT_TRUE(r.contains("Port:                 \t" + R + "/dev/ttyACM0 (COM1)"));
}

// The C locale names no country: the report says so instead of leaving the line blank, for the
// user's locale and the system's (no locale file, or LANG=C.UTF-8).
TEST_F(ReportTest, CountryUnderTheCLocaleSaysItIsNotSet) {
    EXPECT_EQ(countryText(QLocale::c()), "Not set (C locale)");
    EXPECT_EQ(countryText(QLocale(QLocale::German, QLocale::Germany)), "DE");
    QTemporaryDir bare;
    EXPECT_EQ(LinuxProbe(bare.path()).systemCountry(), "Not set (C locale)");
    QTemporaryDir cUtf8;
    QDir().mkpath(cUtf8.path() + "/etc/default");
    QFile file(cUtf8.path() + "/etc/default/locale");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("LANG=C.UTF-8\n");
    file.close();
    EXPECT_EQ(LinuxProbe(cUtf8.path()).systemCountry(), "Not set (C locale)");
}

TEST_F(ReportTest, ThisMachineHasEverySectionAndNoSecrets) {
    qputenv("TELVANE_REPORT_SECRET", "s3cr3t-token-value");
    writeFile("Lastsend.log", "Send line\r\n");
    const QStringList r = collectConfigurationReport(LinuxProbe());
    const QString all = r.join('\n');
    for (const char* head :
         {"[Product]", "[Environment]", "{general}", "{sending}", "{receiving}", "{misc}", "{printing}",
          "[Running Programs Relevant to Fax (Process, Program)]", "[Last Send Session]"})
        EXPECT_TRUE(r.contains(head)) << head;
    EXPECT_TRUE(all.contains("Phys Memory: \tTotal: "));
    EXPECT_FALSE(all.contains("Phys Memory: \tTotal: 0;"));
    EXPECT_TRUE(all.contains("CPU:         \tProcessor:  "));
    EXPECT_FALSE(all.contains("s3cr3t-token-value"));
    EXPECT_FALSE(all.contains("maintenance_report_test  ("));  // not a program that matters to fax
    EXPECT_TRUE(r.contains("[" + QString::fromStdString(dir) + "TVN.INI]"));
}

// Answers the next message box and returns its text through `text`.
void answerMessageBox(QString* text, QString* caption) {
    auto* timer = new QTimer;
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, text, caption] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            *text = box->text();
            *caption = box->windowTitle();
            box->accept();
        }
    });
    timer->start();
}

QString g_saveName;
QString chooseSaveName(QWidget*, const QString& proposed) {
    EXPECT_TRUE(proposed.endsWith("/ConfigInfo.txt"));
    // Proposed where the user keeps files, not in the private data directory.
    EXPECT_EQ(QFileInfo(proposed).absolutePath(), QFileInfo(app::userFilesFolder()).absoluteFilePath());
    EXPECT_FALSE(proposed.startsWith(QString::fromStdString(settings::ProgramDir())));
    return g_saveName;
}

TEST_F(ReportTest, WindowCopiesAndSavesWithCrLf) {
    TConfigurationInfo window;
    EXPECT_EQ(window.windowTitle(), "Configuration Information");
    QStringList lines = {"Line\tone", "", "[Section]"};
    for (int i = 0; i < 200; ++i) lines << QString("row %1").arg(i);
    window.setLines(lines);
    window.Memo1()->verticalScrollBar()->setValue(window.Memo1()->verticalScrollBar()->maximum());
    window.show();
    QCoreApplication::processEvents();
    EXPECT_EQ(window.Memo1()->verticalScrollBar()->value(), 0);  // scrolled to the top on activation
    EXPECT_EQ(window.Memo1()->textCursor().position(), 0);
    EXPECT_EQ(window.Memo1()->lineWrapMode(), QPlainTextEdit::NoWrap);
    EXPECT_EQ(window.lines(), lines);

    QString text, caption;
    answerMessageBox(&text, &caption);
    window.Button1Click();
    EXPECT_EQ(text, "Information copied to the clipboard");
    EXPECT_EQ(caption, "Configuration Information");
    EXPECT_TRUE(QGuiApplication::clipboard()->text().startsWith("Line\tone\r\n\r\n[Section]\r\nrow 0\r\n"));

    g_saveName = home.path() + "/saved.txt";
    TConfigurationInfo::setSaveNameChooser(&chooseSaveName);
    answerMessageBox(&text, &caption);
    window.Button3Click();
    EXPECT_EQ(text, "Information was saved as: " + g_saveName);
    QFile saved(g_saveName);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    const QByteArray data = saved.readAll();
    EXPECT_TRUE(data.startsWith("Line\tone\r\n\r\n[Section]\r\nrow 0\r\n"));
    EXPECT_TRUE(data.endsWith("row 199\r\n"));
    EXPECT_EQ(data.count("\r\n"), lines.size());
    EXPECT_EQ(data.count('\n'), lines.size());  // no bare line feeds
    TConfigurationInfo::setSaveNameChooser(nullptr);
}

TEST_F(ReportTest, CommandLineReportNeedsNoWindow) {
    const QString bin = qEnvironmentVariable("TELVANE_BIN", TELVANE_BINARY_DIR "/bin");
    settings::IniFile ini;
    ini.writeInteger("Modem", "ComPort", 4);
    ini.save(dir + "TVN.INI");
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("TELVANE_HOME", home.path());
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    p.setProcessEnvironment(env);
    // A running instance (its single-instance server) does not stop the report.
    QLocalServer running;
    ASSERT_TRUE(running.listen(app::SingleInstanceGuard::serverName("telvane", QString::fromStdString(dir))));
    bool contacted = false;
    QObject::connect(&running, &QLocalServer::newConnection, [&contacted] { contacted = true; });
    p.start(bin + "/telvane", {"--config-report"});
    ASSERT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(p.exitCode(), 0);
    const QString out = QString::fromLocal8Bit(p.readAllStandardOutput());
    EXPECT_TRUE(out.contains("[Product]\n"));
    EXPECT_TRUE(out.contains("COM Port:             \t5\n"));
    EXPECT_TRUE(out.contains("[" + home.path() + "/TVN.INI]"));
    QCoreApplication::processEvents();
    EXPECT_FALSE(contacted);
    // No tables were opened or created.
    EXPECT_FALSE(QFile::exists(home.path() + "/TVN.DBF"));

    p.start(bin + "/telvane", {"--help"});
    ASSERT_TRUE(p.waitForFinished(60000));
    EXPECT_TRUE(QString::fromLocal8Bit(p.readAllStandardOutput()).contains("--config-report"));
}

}  // namespace
}  // namespace telvane::maintenance
