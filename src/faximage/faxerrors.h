// Error codes of the fax image core (negative; 0 = success). Their texts come from the
// program's string table (resources/ovxresources.h).
#pragma once

namespace telvane::faximage {

constexpr int ecOK = 0;
constexpr int ecFileNotFound = -2;
constexpr int ecPathNotFound = -3;
constexpr int ecAccessDenied = -5;
constexpr int ecOutOfMemory = -8;
constexpr int ecReadBeyondEof = -100;
constexpr int ecDiskFull = -101;
constexpr int ecDeviceWrite = -160;
constexpr int ecBadArgument = -1002;
constexpr int ecGotQuitMsg = -1003;
constexpr int ecFaxBadFormat = -8001;      // "File is not an OVF file"
constexpr int ecUnsupportedImage = -8002;  // "Unsupported graphics file format"
constexpr int ecConvertAbort = -8003;
constexpr int ecUnpackAbort = -8004;
constexpr int ecCantMakeBitmap = -8005;
constexpr int ecFileExists = -8006;       // "A file of that name already exists"
constexpr int ecPageTooLong = -8007;      // more than kMaxPageLines lines
constexpr int ecDamagedImage = -8008;     // "Image data is damaged or ends early"
constexpr int ecTooManyPages = -8009;     // more than 65535 pages in a fax file
constexpr int ecTooManyDcxPages = -8010;  // more than 1023 pages in a DCX file
constexpr int ecImageTooTall = -8011;     // a decoded page of more than kMaxPageRows rows
constexpr int ecFontFileNotFound = -8052;
constexpr int ecInvalidPageNumber = -8053;
constexpr int ecBmpTooBig = -8054;
constexpr int ecEnhFontTooBig = -8055;

}  // namespace telvane::faximage
