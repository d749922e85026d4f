// Loading and saving the settings record.
#include "settings/settings.h"

namespace telvane::settings {
namespace {

constexpr int kSpeeds[] = {2400, 4800, 7200, 9600, 12000, 14400};

}  // namespace

void Settings::load(const IniFile& ini) {
    const Settings d;
    Receive.Wav = ini.readString("Receive", "Wav", d.Receive.Wav);
    Receive.AtStartup = ini.readBool("Receive", "AtStartup", d.Receive.AtStartup);
    Receive.AnswerOnRing = ini.readInteger("Receive", "AnswerOnRing", d.Receive.AnswerOnRing);
    Dialing.BlindDial = ini.readBool("Dialing", "BlindDial", d.Dialing.BlindDial);
    Dialing.IgnoreBusy = ini.readBool("Dialing", "IgnoreBusy", d.Dialing.IgnoreBusy);
    User.Fax = ini.readString("User", "Fax", d.User.Fax);
    User.Name = ini.readString("User", "Name", d.User.Name);
    Dialing.DialPrefix = ini.readString("Dialing", "DialPrefix", d.Dialing.DialPrefix);
    Dialing.DialSuffix = ini.readString("Dialing", "DialSuffix", d.Dialing.DialSuffix);
    Modem.InitString = ini.readString("Modem", "InitString", d.Modem.InitString);
    Dialing.DialAttempts = ini.readInteger("Dialing", "DialAttempts", d.Dialing.DialAttempts);
    Dialing.RetryWait = ini.readInteger("Dialing", "RetryWait", d.Dialing.RetryWait);
    Modem.ComPort = ini.readInteger("Modem", "ComPort", d.Modem.ComPort);
    Modem.FaxClass = ini.readInteger("Modem", "FaxClass", d.Modem.FaxClass);
    Dialing.ToneOrPulse = ini.readInteger("Dialing", "ToneOrPulse", d.Dialing.ToneOrPulse);
    Dialing.Timeout = ini.readInteger("Dialing", "Timeout", d.Dialing.Timeout);
    Modem.MaximumBPS = ini.readInteger("Modem", "MaximumBPS", d.Modem.MaximumBPS);
    Modem.RenegotiateBetween = ini.readBool("Modem", "RenegotiateBetween", d.Modem.RenegotiateBetween);
    Resetting.String = ini.readString("Resetting", "String", d.Resetting.String);
    Resetting.AfterString = ini.readString("Resetting", "AfterString", d.Resetting.AfterString);
    Dialing.ECM = ini.readBool("Dialing", "ECM", d.Dialing.ECM);
    // The receive keys default to the send keys read above.
    Receive.ECMReceive = ini.readBool("Receive", "ECMReceive", Dialing.ECM);
    Modem.InitStringReceive = ini.readString("Modem", "InitStringReceive", Modem.InitString);
    Modem.FaxClassReceive = ini.readInteger("Modem", "FaxClassReceive", Modem.FaxClass);
    Modem.MaximumBPSReceive = ini.readInteger("Modem", "MaximumBPSReceive", Modem.MaximumBPS);
    Receive.PrintOnReceipt = ini.readBool("Receive", "PrintOnReceipt", d.Receive.PrintOnReceipt);
    Receive.PrintOnReceiptPrinter = ini.readString("Receive", "PrintOnReceiptPrinter", d.Receive.PrintOnReceiptPrinter);
    DefaultFont.Name = ini.readString("Default Font", "Name", d.DefaultFont.Name);
    DefaultFont.Size = ini.readInteger("Default Font", "Size", d.DefaultFont.Size);
    DefaultFont.Bold = ini.readBool("Default Font", "Bold", d.DefaultFont.Bold);
    DefaultFont.Italic = ini.readBool("Default Font", "Italic", d.DefaultFont.Italic);
    DefaultFont.Underline = ini.readBool("Default Font", "Underline", d.DefaultFont.Underline);
    Hints.On = ini.readBool("Hints", "On", d.Hints.On);
    User.PrefixDisable = ini.readBool("User", "PrefixDisable", d.User.PrefixDisable);
    User.SuffixDisable = ini.readBool("User", "SuffixDisable", d.User.SuffixDisable);
    Other.UseMotorolaSM56Fix = ini.readBool("Other", "UseMotorolaSM56Fix", d.Other.UseMotorolaSM56Fix);
    Receive.DisableReceivingFaxesNotification =
        ini.readBool("Receive", "DisableReceivingFaxesNotification", d.Receive.DisableReceivingFaxesNotification);
    Other.ImposeWaitBeforePrinting =
        ini.readBool("Other", "ImposeWaitBeforePrinting", d.Other.ImposeWaitBeforePrinting);
    Other.UseAlternateHeaderFont = ini.readBool("Other", "UseAlternateHeaderFont", d.Other.UseAlternateHeaderFont);
    Other.GlobalUseAlternateNamingRec =
        ini.readBool("Other", "GlobalUseAlternateNamingRec", d.Other.GlobalUseAlternateNamingRec);
    Other.GlobalLargerSendBuffer = ini.readBool("Other", "GlobalLargerSendBuffer", d.Other.GlobalLargerSendBuffer);
    Other.GlobalLargerReceiveBuffer =
        ini.readBool("Other", "GlobalLargerReceiveBuffer", d.Other.GlobalLargerReceiveBuffer);
    Other.SpellCheckAsYouType = ini.readBool("Other", "SpellCheckAsYouType", d.Other.SpellCheckAsYouType);
    Other.SpellLanguage = ini.readString("Other", "SpellLanguage", d.Other.SpellLanguage);
    const auto defaults = ports::defaultPortMap();
    for (int i = 0; i < ports::kPortCount; ++i) {
        Ports[i] = ini.readString("Ports", "Com" + std::to_string(i + 1), defaults[i]);
        if (Ports[i].empty()) Ports[i] = defaults[i];
    }
}

void Settings::save(IniFile& ini) const {
    ini.writeString("Receive", "Wav", Receive.Wav);
    ini.writeBool("Receive", "AtStartup", Receive.AtStartup);
    ini.writeInteger("Receive", "AnswerOnRing", Receive.AnswerOnRing);
    ini.writeString("User", "Fax", User.Fax);
    ini.writeString("User", "Name", User.Name);
    ini.writeString("Dialing", "DialPrefix", Dialing.DialPrefix);
    ini.writeString("Dialing", "DialSuffix", Dialing.DialSuffix);
    ini.writeString("Modem", "InitString", Modem.InitString);
    ini.writeInteger("Dialing", "DialAttempts", Dialing.DialAttempts);
    ini.writeInteger("Dialing", "RetryWait", Dialing.RetryWait);
    ini.writeBool("Dialing", "BlindDial", Dialing.BlindDial);
    ini.writeBool("Dialing", "IgnoreBusy", Dialing.IgnoreBusy);
    ini.writeInteger("Modem", "ComPort", Modem.ComPort);
    ini.writeInteger("Modem", "FaxClass", Modem.FaxClass);
    ini.writeInteger("Dialing", "ToneOrPulse", Dialing.ToneOrPulse);
    ini.writeInteger("Dialing", "Timeout", Dialing.Timeout);
    ini.writeBool("Dialing", "ECM", Dialing.ECM);
    ini.writeBool("Receive", "ECMReceive", Receive.ECMReceive);
    ini.writeString("Modem", "InitStringReceive", Modem.InitStringReceive);
    ini.writeInteger("Modem", "FaxClassReceive", Modem.FaxClassReceive);
    ini.writeInteger("Modem", "MaximumBPSReceive", Modem.MaximumBPSReceive);
    ini.writeBool("Receive", "PrintOnReceipt", Receive.PrintOnReceipt);
    ini.writeString("Receive", "PrintOnReceiptPrinter", Receive.PrintOnReceiptPrinter);
    ini.writeString("Default Font", "Name", DefaultFont.Name);
    ini.writeInteger("Default Font", "Size", DefaultFont.Size);
    ini.writeBool("Default Font", "Bold", DefaultFont.Bold);
    ini.writeBool("Default Font", "Italic", DefaultFont.Italic);
    ini.writeBool("Default Font", "Underline", DefaultFont.Underline);
    ini.writeInteger("Modem", "MaximumBPS", Modem.MaximumBPS);
    ini.writeString("Resetting", "String", Resetting.String);
    ini.writeString("Resetting", "AfterString", Resetting.AfterString);
    ini.writeBool("User", "PrefixDisable", User.PrefixDisable);
    ini.writeBool("User", "SuffixDisable", User.SuffixDisable);
    ini.writeBool("Modem", "RenegotiateBetween", Modem.RenegotiateBetween);
    ini.writeBool("Hints", "On", Hints.On);
    ini.writeString("Version", "Version", kProgramVersion);
    ini.writeBool("Other", "UseMotorolaSM56Fix", Other.UseMotorolaSM56Fix);
    ini.writeBool("Receive", "DisableReceivingFaxesNotification", Receive.DisableReceivingFaxesNotification);
    ini.writeBool("Other", "ImposeWaitBeforePrinting", Other.ImposeWaitBeforePrinting);
    ini.writeBool("Other", "UseAlternateHeaderFont", Other.UseAlternateHeaderFont);
    ini.writeBool("Other", "GlobalUseAlternateNamingRec", Other.GlobalUseAlternateNamingRec);
    ini.writeBool("Other", "GlobalLargerSendBuffer", Other.GlobalLargerSendBuffer);
    ini.writeBool("Other", "GlobalLargerReceiveBuffer", Other.GlobalLargerReceiveBuffer);
    ini.writeBool("Other", "SpellCheckAsYouType", Other.SpellCheckAsYouType);
    ini.writeString("Other", "SpellLanguage", Other.SpellLanguage);
    for (int i = 0; i < ports::kPortCount; ++i) ini.writeString("Ports", "Com" + std::to_string(i + 1), Ports[i]);
}

std::string settingsPath(const std::string& programDir) { return programDir + kSettingsFileName; }

void Settings::loadFrom(const std::string& programDir) { load(IniFile::load(settingsPath(programDir))); }

void Settings::saveTo(const std::string& programDir) const {
    const std::string path = settingsPath(programDir);
    IniFile ini = IniFile::load(path);
    save(ini);
    ini.save(path);
}

std::string Settings::portDevice(int index) const {
    if (index < 0 || index >= ports::kPortCount) return {};
    return Ports[static_cast<std::size_t>(index)];
}

void PrintOptions::loadFrom(const std::string& programDir) {
    const IniFile ini = IniFile::load(settingsPath(programDir));
    const PrintOptions d;
    MultiPage = ini.readBool("Printing", "MultiPage", d.MultiPage);
    Header = ini.readBool("Printing", "Header", d.Header);
    Footer = ini.readBool("Printing", "Footer", d.Footer);
    Stretch = ini.readBool("Printing", "Stretch", d.Stretch);
}

void PrintOptions::saveTo(const std::string& programDir) const {
    const std::string path = settingsPath(programDir);
    IniFile ini = IniFile::load(path);
    ini.writeBool("Printing", "MultiPage", MultiPage);
    ini.writeBool("Printing", "Header", Header);
    ini.writeBool("Printing", "Footer", Footer);
    ini.writeBool("Printing", "Stretch", Stretch);
    ini.save(path);
}

std::string FaxClassName(int storedClass) {
    switch (storedClass) {
    case 0: return "AutoDetect";
    case 1: return "Class 1";
    case 2: return "Class 2";
    case 3: return "Class 2.0";
    default: return "unknown";
    }
}

int speedFromIndex(int index) {
    if (index < 0 || index > 5) return 9600;
    return kSpeeds[index];
}

int indexFromSpeed(int bps) {
    for (int i = 0; i < 6; ++i)
        if (kSpeeds[i] == bps) return i;
    return 3;
}

}  // namespace telvane::settings
