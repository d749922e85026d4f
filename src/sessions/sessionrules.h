// Rules of the fax sessions that need no window: the dial wait read from an init string, the page
// header line, "AT" prefixing, the texts of the status window and of the receive-mode status line,
// and the session log ("Lastsend.log" / "Lastrec.log").
// Guarantees: every function is deterministic given its inputs; the session log never adds a line
// equal to the last one added, and saving it never throws (a failed write leaves the lines in memory).
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <string>

namespace telvane::sessions {

// Seconds the engine waits for a connection after dialling: the "S7=" register of the init string
// (60 when absent or unreadable, at least 55).
int DialWaitFromInitString(const std::string& initString);

// The init string as handed to the engine: unchanged when its upper-case form contains "AT"
// anywhere, else "AT" put in front.
std::string withAtPrefix(const std::string& s);

// The page header line: "Sent[ by][: Name    ][         $I          ]" + 11 blanks + date + 4 blanks
// + time + 14 blanks + "Page $P of $N".
QString buildHeaderText(const QString& name, const QString& stationId, const QString& shortDate,
                        const QString& shortTime);

// Elapsed-time clock: seconds from ticks of 55 ms, and "m:ss" padded on the left to 6 characters.
int64_t secondsFromTicks(int64_t ticks);
QString clockText(int64_t seconds);

// The file-name part of a path (after the last '\', '/' or ':'), cut to 20 characters + "...".
QString shortFileName(const QString& path);

// The page meter: bytes / length * 100 rounded, 0 while the length is 0.
int pageMeterPercent(long bytes, long pageLength);

// The main window's status line in receive mode, from the engine's status text, the remote
// station ID, the current page and the bytes transferred.
QString receiveStatusText(const QString& statusText, const QString& remoteId, int currentPage, long bytes);

// The messages a session start shows when the port, the modem or the reset string fails; N is
// the port number. The send dialog points to its own Preferences button, receive mode to
// Preferences in the main window's File menu (`receiving`).
QString portCheckAdvice(int comNumber, bool receiving);
// The status window's status line for a send: the engine's text, except while a page's end is
// being signalled, which the engine calls "Sending EOP" (end of procedure) even between pages:
// then the page is with the modem and awaits the far end's confirmation. A page is "sent" only
// once the far end has confirmed it (fpPageOK).
QString sendStatusText(int status, const QString& engineText, int currentPage, int totalPages);
// The page meter of a send: the page data handed to the modem, below 100 until the far end has
// confirmed the page (99 once all of it is with the modem).
int sendMeterPercent(int status, long bytes, long pageLength);
// The status window's current page: the page number, "<cover page>" while a separate cover file
// goes out, "-" before the first page.
QString currentPageText(int currentPage, int totalPages, bool hasCoverFile);
// The text for a send that ended before any connection because the modem would not make the
// call (it answered ERROR or NO CARRIER to the dial command), naming the number; empty for any
// other end.
QString refusedDialText(int errorCode, bool reachedRemote, const QString& number);
// The advice added when the modem refused the fixed fax class of the settings (the engine's
// "Error while initializing modem"): it names the class and points to Check Fax Class; empty for
// any other end and for AutoDetect.
QString faxClassRefusedText(int errorCode, int storedFaxClass);
QString noModemResponseText(int comNumber, bool receiving);
QString resetStringFailureText(const QString& resetString, int comNumber, bool receiving);

// The printer that print-on-receipt selects for the setting Receive.PrintOnReceiptPrinter: the
// system default for "Default Windows Printer", else the installed printer of exactly that name;
// empty when there is none (the current printer is kept).
QString receiptPrinterName(const QString& setting, const QStringList& installed, const QString& systemDefault);

// The current date and time as the logs write them: long date, a blank, long time.
QString logDateTime();

// A session log: lines plus the last line added, saved with a closing "Finish: " line.
class SessionLog {
public:
    // Appends the line unless it equals the last line added.
    void add(const QString& line);
    void clear();
    const QStringList& lines() const { return lines_; }
    // Adds "Finish: " + date and time, then replaces `path` with the lines (CR LF after each; a
    // line holding a line break becomes two lines). Failures are ignored; returns whether written.
    bool save(const QString& path);

private:
    QStringList lines_;
    QString last_;
};

// The first question of Quick Setup and Preferences: which port the modem is on, in the terms of
// the devices Linux gives modems (the default port map puts them on Com5, Com6 and Com1).
inline constexpr const char* kPortQuestion =
    "1. Which communications port is your modem on? A USB modem is usually /dev/ttyACM0 (Com5) or "
    "/dev/ttyUSB0 (Com6), a built-in serial port /dev/ttyS0 (Com1). (Click on the Find Modem Port button for "
    "assistance.)";

// One ended send attempt, as the send history records it.
struct SendAttempt {
    QString recipient, subject, number;
    int pages = 0;
    QString result;
};
// Appends one line for the attempt (date and time first) to the history file at `path` and
// flushes it to disk; false when it could not be written.
bool appendSendHistory(const QString& path, const SendAttempt& attempt);

}  // namespace telvane::sessions
