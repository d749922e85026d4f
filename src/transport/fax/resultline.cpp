// Result-line collection and matching (see resultline.h).
#include "transport/fax/resultline.h"

namespace telvane::transport {

namespace {
bool has(std::string_view s, std::string_view w) { return s.find(w) != std::string_view::npos; }
}  // namespace

TResult classifyResult(std::string_view line, bool waitingForCall) {
    if (waitingForCall ? has(line, "NO C") : has(line, "RRIER")) return TResult::NoCarrier;
    if (has(line, "CONNECT")) return TResult::Connect;
    if (has(line, "OK")) return TResult::Ok;
    if (has(line, "ERROR")) return TResult::Error;
    if (has(line, "BUSY")) return TResult::Busy;
    if (has(line, "ANSWER")) return TResult::NoAnswer;
    if (has(line, "VOICE") || has(line, "VCON")) return TResult::Voice;
    if (has(line, "NO DIAL")) return TResult::NoDialTone;
    if (has(line, "RING")) return TResult::Ring;
    return TResult::None;
}

const char* resultName(TResult r) {
    static const char* const names[] = {"none",      "OK",    "CONNECT",     "ERROR", "BUSY",
                                        "NO ANSWER", "VOICE", "NO DIALTONE", "RING",  "NO CARRIER"};
    return names[static_cast<int>(r)];
}

bool TResultLineCollector::put(uint8_t c) {
    if (c == '\r') {
        cut_ = false;
        if (building_.empty()) return false;
        line_.swap(building_);
        building_.clear();
        return true;
    }
    if (c < 0x20) return false;
    if (building_.size() >= kMaxLine) {
        cut_ = true;
        return false;
    }
    if (!cut_) building_.push_back(static_cast<char>(c));
    return false;
}

}  // namespace telvane::transport
