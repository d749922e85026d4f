// The program-wide settings record and the settings file "TVN.INI". Every key has its type and
// default; the receive keys default to the send keys they mirror; a save writes every key in a
// fixed order (so a new file lists them in that order) and leaves everything else in the file alone.
#pragma once

#include <array>
#include <string>

#include "app/inifile.h"

namespace telvane {

constexpr const char* kSettingsFileName = "TVN.INI";
constexpr const char* kProgramVersion = "2.9y";
constexpr const char* kDefaultPrinterName = "Default Windows Printer";
constexpr int kPortCount = 6;

struct Settings {
    struct {
        std::string Wav;
        bool AtStartup = false;
        int AnswerOnRing = 1;
        bool ECMReceive = false;
        bool PrintOnReceipt = false;
        std::string PrintOnReceiptPrinter = kDefaultPrinterName;
        bool DisableReceivingFaxesNotification = false;
    } Receive;
    struct {
        std::string Fax;
        std::string Name;
        bool PrefixDisable = false;
        bool SuffixDisable = false;
    } User;
    struct {
        std::string DialPrefix;
        std::string DialSuffix;
        int DialAttempts = 3;
        int RetryWait = 60;
        bool BlindDial = false;
        bool IgnoreBusy = false;
        int ToneOrPulse = 0;
        int Timeout = 60;
        bool ECM = false;
    } Dialing;
    struct {
        std::string InitString;
        int ComPort = -1;
        int FaxClass = 1;
        std::string InitStringReceive;
        int FaxClassReceive = 1;
        int MaximumBPSReceive = 9600;
        int MaximumBPS = 9600;
        bool RenegotiateBetween = false;
    } Modem;
    struct {
        std::string Name = "Arial";
        int Size = 10;
        bool Bold = false;
        bool Italic = false;
        bool Underline = false;
    } DefaultFont;
    struct {
        std::string String;
        std::string AfterString;
    } Resetting;
    struct {
        bool On = true;
    } Hints;
    struct {
        bool UseMotorolaSM56Fix = false;
        bool ImposeWaitBeforePrinting = false;
        bool UseAlternateHeaderFont = false;
        bool GlobalUseAlternateNamingRec = false;
        bool GlobalLargerSendBuffer = false;
        bool GlobalLargerReceiveBuffer = false;
        bool SpellCheckAsYouType = true;  // unknown words underlined in the editors
    } Other;
    // Device path of each port number (section Ports, keys Com1..Com6).
    std::array<std::string, kPortCount> Ports = defaultPorts();

    static std::array<std::string, kPortCount> defaultPorts();

    void load(const IniFile& ini);
    void save(IniFile& ini) const;

    // Reads "<dir>TVN.INI"; a missing file yields the defaults.
    void loadFrom(const std::string& programDir);
    // Writes every key into "<dir>TVN.INI", keeping what else the file holds. Throws IniError naming the file.
    void saveTo(const std::string& programDir) const;

    // Device path for a port index (0 = COM1); empty for an index out of range.
    std::string portDevice(int index) const;
};

// Print options of the viewing and printing windows, loaded and saved on their own.
struct PrintOptions {
    bool MultiPage = false;
    bool Header = false;
    bool Footer = false;
    bool Stretch = false;

    void loadFrom(const std::string& programDir);
    void saveTo(const std::string& programDir) const;
};

std::string settingsPath(const std::string& programDir);

// "AutoDetect", "Class 1", "Class 2", "Class 2.0", or "unknown".
std::string FaxClassName(int storedClass);
// List index 0..5 -> 2400..14400 bits per second; 9600 for any other index.
int SpeedFromIndex(int index);
// Bits per second -> list index; 3 for any other speed.
int IndexFromSpeed(int bps);

}  // namespace telvane
