// Engine exception and the error codes raised by the serial port and its dispatcher.
// Every failure the engine raises carries a negative error code (0 never appears) and a
// human-readable message; the code's text in the engine's string table may be richer.
// The exception is the program's one EOvxException (resources/ovxresources.h), so a handler
// for it catches failures of the engine, the fax image core and rendering alike.
#pragma once

#include "resources/ovxresources.h"

namespace telvane::transport {

// Error codes used by the serial port layer.
inline constexpr int ecFileAccessDenied = -5;         // permission denied on the device
inline constexpr int ecBadArgument = -1002;           // bad argument passed to function
inline constexpr int ecBadId = -2001;                 // specified port doesn't exist
inline constexpr int ecAlreadyOpen = -2008;           // device in use / already open
inline constexpr int ecNotOpen = -2009;               // operation needs an open port
inline constexpr int ecDeviceError = -3001;           // device layer I/O failure
inline constexpr int ecBufferIsEmpty = -3002;         // nothing to read
inline constexpr int ecBufferIsFull = -3003;          // no room for the block now
inline constexpr int ecOutputBufferTooSmall = -3006;  // block larger than the output buffer
inline constexpr int ecNoMoreTriggers = -5001;        // no more trigger slots
inline constexpr int ecTriggerTooLong = -5002;        // data trigger string empty or too long
inline constexpr int ecBadTriggerHandle = -5003;      // unknown trigger handle

using telvane::EOvxException;

}  // namespace telvane::transport
