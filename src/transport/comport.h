// TOvxComPort: the serial-port component used by the fax sessions and the modem helpers.
// It holds the port's properties (with their defaults), opens the device through a
// TOvxBaseDispatcher and forwards buffer, line and trigger operations to it. Changing a
// property the device needs while the port is open re-applies it at once. Component events
// (OnTrigger...) run on the event sink's thread when a sink is set, otherwise on the dispatch
// thread. Operations on a closed port open it first when AutoOpen is on, otherwise they throw
// EOvxException(ecNotOpen). Errors from trigger and buffer operations are thrown as
// EOvxException carrying the engine's negative code.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "transport/dispatcher.h"
#include "transport/eventsink.h"
#include "transport/ovxdevice.h"
#include "errors/errors.h"
#include "transport/ticks.h"
#include "transport/tracelog.h"

namespace telvane::transport {

enum TDeviceLayer { dlTty, dlWinsock };
enum TTapiMode { tmNone, tmAuto, tmOn, tmOff };

class TOvxComPort {
public:
    explicit TOvxComPort(const TOvxClock& clock = systemClock());
    ~TOvxComPort();
    TOvxComPort(const TOvxComPort&) = delete;
    TOvxComPort& operator=(const TOvxComPort&) = delete;

    // --- properties ---
    int ComNumber() const { return comNumber_; }
    void setComNumber(int n);
    // The device opened; empty means the port map's default for ComNumber (ports/portmap.h).
    std::string devicePath() const;
    void setDevicePath(std::string path);

    long Baud() const { return line_.Baud; }
    void setBaud(long baud);
    TParity Parity() const { return line_.Parity; }
    void setParity(TParity p);
    int DataBits() const { return line_.DataBits; }
    void setDataBits(int bits);
    int StopBits() const { return line_.StopBits; }
    void setStopBits(int bits);
    size_t InSize() const { return inSize_; }
    void setInSize(size_t size);  // takes effect at the next open
    size_t OutSize() const { return outSize_; }
    void setOutSize(size_t size);  // takes effect at the next open
    unsigned HWFlowOptions() const { return line_.HWFlowOptions; }
    void setHWFlowOptions(unsigned options);
    TSWFlowOptions SWFlowOptions() const { return line_.SWFlowOptions; }
    void setSWFlowOptions(TSWFlowOptions options);
    uint8_t XOnChar() const { return line_.XOnChar; }
    void setXOnChar(uint8_t c);
    uint8_t XOffChar() const { return line_.XOffChar; }
    void setXOffChar(uint8_t c);
    // Thresholds as they apply (normalised when hardware flow control is on).
    size_t BufferFull() const;
    void setBufferFull(size_t n) { bufferFull_ = n; }
    size_t BufferResume() const;
    void setBufferResume(size_t n) { bufferResume_ = n; }
    bool DTR() const { return dtr_; }
    void setDTR(bool on);
    bool RTS() const { return rts_; }
    void setRTS(bool on);
    bool AutoOpen() const { return autoOpen_; }
    void setAutoOpen(bool on) { autoOpen_ = on; }
    bool Open() const;
    // Opens (throws EOvxException: ecBadId, ecAlreadyOpen, ecFileAccessDenied...) or closes.
    void setOpen(bool open);
    bool PromptForPort() const { return promptForPort_; }
    void setPromptForPort(bool on) { promptForPort_ = on; }
    TDeviceLayer DeviceLayer() const { return deviceLayer_; }
    void setDeviceLayer(TDeviceLayer layer) { deviceLayer_ = layer; }
    TTapiMode TapiMode() const { return tapiMode_; }
    void setTapiMode(TTapiMode mode) { tapiMode_ = mode; }
    // Settings of the Windows serial driver, kept so configurations carry over; a tty has no
    // counterpart for them, so they change nothing here.
    bool UseMSRShadow() const { return useMSRShadow_; }
    void setUseMSRShadow(bool on) { useMSRShadow_ = on; }
    bool UseEventWord() const { return useEventWord_; }
    void setUseEventWord(bool on) { useEventWord_ = on; }
    int CommNotificationLevel() const { return commNotificationLevel_; }
    void setCommNotificationLevel(int level) { commNotificationLevel_ = level; }
    bool RS485Mode() const { return rs485Mode_; }
    void setRS485Mode(bool on) { rs485Mode_ = on; }

    TTraceLogState Tracing() const { return tracing_; }
    void setTracing(TTraceLogState state);
    size_t TraceSize() const { return traceSize_; }
    void setTraceSize(size_t entries) { traceSize_ = entries; }
    const std::string& TraceName() const { return traceName_; }
    void setTraceName(std::string name) { traceName_ = std::move(name); }
    bool TraceHex() const { return traceHex_; }
    void setTraceHex(bool on) { traceHex_ = on; }
    bool TraceAllHex() const { return traceAllHex_; }
    void setTraceAllHex(bool on) { traceAllHex_ = on; }
    TTraceLogState Logging() const { return logging_; }
    void setLogging(TTraceLogState state);
    size_t LogSize() const { return logSize_; }
    void setLogSize(size_t bytes) { logSize_ = bytes; }
    const std::string& LogName() const { return logName_; }
    void setLogName(std::string name) { logName_ = std::move(name); }
    bool LogHex() const { return logHex_; }
    void setLogHex(bool on) { logHex_ = on; }
    bool LogAllHex() const { return logAllHex_; }
    void setLogAllHex(bool on) { logAllHex_ = on; }
    // Adds an entry to the event log when logging is on (sessions log state changes with ltFax).
    void addLogEntry(TOvxLogType type, uint16_t subtype, uint32_t value, std::string_view data = {});
    void logFaxState(std::string_view stateName, uint32_t stateNumber);

    // Where component events run; null means the dispatch thread.
    void setEventSink(TOvxEventSink* sink) { eventSink_ = sink; }
    TOvxEventSink* eventSink() const { return eventSink_; }
    // Replaces the device used at the next open (default: a TOvxTtyDevice).
    void setDeviceFactory(std::function<std::unique_ptr<TOvxDevice>()> factory);
    // Whether the next open starts the worker threads (default on; off for scripted tests,
    // which then call dispatcher().dispatchOnce()).
    void setStartThreads(bool on) { startThreads_ = on; }
    const TOvxClock& clock() const { return clock_; }

    // --- component events (assign before opening: they are read by the dispatch thread) ---
    std::function<void(TOvxComPort& cp, uint32_t msg, uint32_t triggerHandle, uint16_t data)> OnTrigger;
    std::function<void(TOvxComPort& cp, size_t count)> OnTriggerAvail;
    std::function<void(TOvxComPort& cp, uint32_t triggerHandle)> OnTriggerData;
    std::function<void(TOvxComPort& cp, uint32_t triggerHandle)> OnTriggerStatus;
    std::function<void(TOvxComPort& cp, uint32_t triggerHandle)> OnTriggerTimer;
    std::function<void(TOvxComPort& cp, uint8_t errors, bool lineBreak)> OnTriggerLineError;
    std::function<void(TOvxComPort& cp)> OnTriggerModemStatus;
    std::function<void(TOvxComPort& cp)> OnTriggerOutbuffFree;
    std::function<void(TOvxComPort& cp)> OnTriggerOutbuffUsed;
    std::function<void(TOvxComPort& cp)> OnTriggerOutSent;

    // --- output ---
    void putChar(uint8_t c);
    void putBlock(const void* data, size_t len);  // doubling DLE is the caller's business
    void putString(std::string_view s) { putBlock(s.data(), s.size()); }
    size_t outBuffFree();
    size_t outBuffUsed();
    void flushOutBuffer();

    // --- input ---
    size_t charReady();
    size_t inBuffUsed();
    size_t inBuffFree();
    uint8_t getChar();                   // throws ecBufferIsEmpty when nothing is there
    uint8_t peekChar(size_t index = 0);  // throws ecBufferIsEmpty when index >= charReady()
    size_t getBlock(void* data, size_t len);
    size_t peekBlock(void* data, size_t len);
    void flushInBuffer();

    // --- lines ---
    uint8_t modemStatus();
    bool CTS();
    bool DSR();
    bool DCD();
    bool RI();

    // --- triggers (throw EOvxException on failure) ---
    int addAvailTrigger(size_t count);
    int addDataTrigger(std::string_view data, bool ignoreCase);
    int addTimerTrigger();
    int addStatusTrigger(int type);
    void removeTrigger(int handle);
    void setTimerTrigger(int handle, int64_t ticks, bool activate);
    void setStatusTrigger(int handle, uint32_t value, bool activate);
    int registerProcTriggerHandler(TOvxTriggerProc proc);
    int registerWindowTriggerHandler(TOvxEventSink* sink, TOvxTriggerProc proc);
    void deregisterTriggerHandler(int id);

    // The dispatcher of the open port (opens it under AutoOpen; throws ecNotOpen otherwise).
    TOvxBaseDispatcher& dispatcher();

private:
    TOvxBaseDispatcher& ready();
    void doOpen();
    void doClose();
    void deliverEvent(uint32_t msg, uint32_t param, int32_t lparam);
    void applyLine();
    void applyTraceState(TTraceLogState requested, bool isTrace);
    TOvxTraceOptions traceOptions() const { return {traceHex_, traceAllHex_}; }
    TOvxTraceOptions logOptions() const { return {logHex_, logAllHex_}; }

    const TOvxClock& clock_;
    int comNumber_ = 0;
    std::string devicePath_;
    TOvxLineSettings line_;
    size_t inSize_ = 4096, outSize_ = 4096;
    size_t bufferFull_ = 0, bufferResume_ = 0;
    bool dtr_ = true, rts_ = true;
    bool autoOpen_ = true;
    bool promptForPort_ = true;
    TDeviceLayer deviceLayer_ = dlTty;
    TTapiMode tapiMode_ = tmAuto;
    bool useMSRShadow_ = true;
    bool useEventWord_ = true;
    int commNotificationLevel_ = 10;
    bool rs485Mode_ = false;
    TTraceLogState tracing_ = tlOff;
    size_t traceSize_ = 10000;
    std::string traceName_ = "OVEX.TRC";
    bool traceHex_ = true, traceAllHex_ = false;
    TTraceLogState logging_ = tlOff;
    size_t logSize_ = 10000;
    std::string logName_ = "OVEX.LOG";
    bool logHex_ = true, logAllHex_ = false;
    TOvxEventSink* eventSink_ = nullptr;
    bool startThreads_ = true;
    std::function<std::unique_ptr<TOvxDevice>()> deviceFactory_;
    std::unique_ptr<TOvxBaseDispatcher> dispatcher_;
    // Trace and log live in the component so they survive reopening the port.
    TOvxTrace trace_;
    TOvxEventLog log_;
};

}  // namespace telvane::transport
