// The program's errors, in one place for every room: the error codes (negative integers, 0 for
// success) that the fax image core, the serial port, the fax engine, rendering, the tools and the
// windows raise and report; their texts and the texts of the progress codes 4801..4843, from the
// string table the program carries (resources/); the exception EOvxException that carries a code
// and its text; and the mapping of errno values to the run-time I/O codes.
// Every subsystem raises and reports them, qualified as errors::.
// Guarantees: each code is defined once and every code defined here has a text in the table;
// text lookups never fail (a code without a table entry falls back to the operating system's
// message for that number, or an empty text), never return garbage and are cut to 255
// characters (80 for progress texts).
#pragma once

#include <stdexcept>
#include <string>

namespace telvane::errors {

// Run-time I/O errors (their table entries are those of the absolute value).
inline constexpr int ecOK = 0;
inline constexpr int ecFileNotFound = -2;
inline constexpr int ecPathNotFound = -3;
inline constexpr int ecFileAccessDenied = -5;  // also a permission denied on a serial device
inline constexpr int ecOutOfMemory = -8;
inline constexpr int ecReadBeyondEof = -100;
inline constexpr int ecDiskFull = -101;
inline constexpr int ecDeviceWrite = -160;

// General.
inline constexpr int ecBadArgument = -1002;
inline constexpr int ecGotQuitMsg = -1003;
inline constexpr int ecPortNotAssigned = -1005;
inline constexpr int ecNotCompatibleWinsock = -1009;

// Opening a port and the device layer.
inline constexpr int ecBadId = -2001;  // the port does not exist
inline constexpr int ecPortInUse = -2005;
inline constexpr int ecAlreadyOpen = -2008;  // the device is in use or already open
inline constexpr int ecNotOpen = -2009;      // the operation needs an open port
inline constexpr int ecDeviceError = -3001;  // an I/O failure of the device
inline constexpr int ecBufferIsEmpty = -3002;
inline constexpr int ecBufferIsFull = -3003;  // no room for the block now
inline constexpr int ecOutputBufferTooSmall = -3006;

// Triggers.
inline constexpr int ecNoMoreTriggers = -5001;
inline constexpr int ecTriggerTooLong = -5002;  // a data trigger string empty or too long
inline constexpr int ecBadTriggerHandle = -5003;

// Fax sessions.
inline constexpr int ecCancelRequested = -6005;
inline constexpr int ecFatalTimeout = -6006;
inline constexpr int ecNoFilename = -6010;
inline constexpr int ecFileRejected = -6011;

// Fax files and images.
inline constexpr int ecFaxBadFormat = -8001;      // "File is not an OVF file"
inline constexpr int ecUnsupportedImage = -8002;  // "Unsupported graphics file format"
inline constexpr int ecConvertAbort = -8003;
inline constexpr int ecUnpackAbort = -8004;
inline constexpr int ecCantMakeBitmap = -8005;
inline constexpr int ecFileExists = -8006;       // "A file of that name already exists"
inline constexpr int ecPageTooLong = -8007;      // more than kMaxPageLines lines
inline constexpr int ecDamagedImage = -8008;     // "Image data is damaged or ends early"
inline constexpr int ecTooManyPages = -8009;     // more than 65535 pages in a fax file
inline constexpr int ecTooManyDcxPages = -8010;  // more than 1023 pages in a DCX file
inline constexpr int ecImageTooTall = -8011;     // a decoded page of more than kMaxPageRows rows
inline constexpr int ecFontFileNotFound = -8052;
inline constexpr int ecInvalidPageNumber = -8053;
inline constexpr int ecBmpTooBig = -8054;
inline constexpr int ecEnhFontTooBig = -8055;

// Fax protocol.
inline constexpr int ecFaxIncompatible = -8060;
inline constexpr int ecFaxBadModemResult = -8061;
inline constexpr int ecFaxTrainError = -8062;
inline constexpr int ecFaxInitError = -8063;
inline constexpr int ecFaxBusy = -8064;
inline constexpr int ecFaxVoiceCall = -8065;
inline constexpr int ecFaxDataCall = -8066;
inline constexpr int ecFaxNoDialTone = -8067;
inline constexpr int ecFaxNoCarrier = -8068;
inline constexpr int ecFaxSessionError = -8069;
inline constexpr int ecFaxPageError = -8070;
inline constexpr int ecFaxNoAnswer = -8074;
// A Class 2 / 2.0 modem ended the call where it should not have: its hang-up code (the fax's
// hangupCode(), explained by hangupReason()) says why.
inline constexpr int ecFaxHungUp = -8075;

// Table text of |code| (UTF-8) or, when missing, the system's message for a positive errno-like
// number with control characters blanked; empty when neither exists. Cut to 255 characters.
std::string ovxErrorText(int code);

// Text of a progress code 4801..4843, cut to 80 characters; empty for any other code.
std::string ovxStatusText(int code);

// Maps an errno value from a file operation to the negative run-time I/O code (-2 file not
// found, -3 path not found, -5 access denied, -8 no memory, -101 disk full, -160 device write
// error, -161 device read error); other numbers are returned negated.
int ovxIoError(int errnum, bool writing);

// The engine's exception: an error code and its text. A handler for it catches failures of the
// fax engine, the fax image core and rendering alike.
class EOvxException : public std::runtime_error {
public:
    explicit EOvxException(int code) : std::runtime_error(ovxErrorText(code)), code_(code) {}
    EOvxException(int code, const std::string& text) : std::runtime_error(text), code_(code) {}
    int ErrorCode() const { return code_; }

private:
    int code_;
};

}  // namespace telvane::errors
