// A modem for the fax-engine fuzz targets whose every reply comes from the fuzz input, handed
// over in pieces of varying size; writes are accepted and dropped, time runs only when paused.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "transport/fax/faxlink.h"

namespace telvane::fuzz {

class InputLink final : public telvane::transport::TFaxLink {
public:
    // carrierWhileData: the carrier stays up until the input is used up (a call), or never shows.
    InputLink(const uint8_t* d, size_t n, bool carrierWhileData)
        : data_(d), size_(n), carrierWhileData_(carrierWhileData) {}
    size_t read(uint8_t* buf, size_t len) override {
        size_t n = std::min({len, size_ - pos_, static_cast<size_t>(1 + (pos_ * 7) % 61)});
        std::copy(data_ + pos_, data_ + pos_ + n, buf);
        pos_ += n;
        return n;
    }
    bool write(const uint8_t*, size_t) override { return true; }
    size_t outFree() override { return 8192; }
    size_t outUsed() override { return 0; }
    void flushIn() override {}
    void flushOut() override {}
    void setDTR(bool) override {}
    void setRTS(bool) override {}
    bool carrier() override { return carrierWhileData_ && pos_ < size_; }
    void setBaud(long) override {}
    void setSoftwareFlow(bool) override {}
    void pause(int64_t ms) override { now_ += ms; }
    int64_t nowMs() override { return now_; }
    void logState(std::string_view, uint32_t) override {}
    bool drained() const { return pos_ >= size_; }
    int64_t now_ = 0;

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
    bool carrierWhileData_;
};

}  // namespace telvane::fuzz
