// Result-line collection and matching (see resultline.h).
#include "transport/fax/resultline.h"

namespace telvane::transport {

namespace {
bool Has(std::string_view s, std::string_view w) { return s.find(w) != std::string_view::npos; }
}  // namespace

TResult ClassifyResult(std::string_view line, bool waitingForCall) {
    if (waitingForCall ? Has(line, "NO C") : Has(line, "RRIER")) return TResult::NoCarrier;
    if (Has(line, "CONNECT")) return TResult::Connect;
    if (Has(line, "OK")) return TResult::Ok;
    if (Has(line, "ERROR")) return TResult::Error;
    if (Has(line, "BUSY")) return TResult::Busy;
    if (Has(line, "ANSWER")) return TResult::NoAnswer;
    if (Has(line, "VOICE") || Has(line, "VCON")) return TResult::Voice;
    if (Has(line, "NO DIAL")) return TResult::NoDialTone;
    if (Has(line, "RING")) return TResult::Ring;
    return TResult::None;
}

const char* ResultName(TResult r) {
    static const char* const names[] = {"none",      "OK",    "CONNECT",     "ERROR", "BUSY",
                                        "NO ANSWER", "VOICE", "NO DIALTONE", "RING",  "NO CARRIER"};
    return names[static_cast<int>(r)];
}

bool TResultLineCollector::Put(uint8_t c) {
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
