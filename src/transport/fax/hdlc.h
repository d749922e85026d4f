// HDLC frames and page data as exchanged with a Class 1 modem (EIA/TIA-578).
// Sending: address 0xFF, control, FCF, FIF, then DLE ETX; DLE bytes in the body are doubled;
// the modem adds flags and FCS. Receiving: a byte-wise decoder that undoubles DLE, ends a block
// at DLE ETX and bounds its size, so arbitrary modem output can never grow memory or crash it.
// Frames at a page speed (error correction) are framed here instead, as bits sent and received
// as page data: flags, zero-bit insertion and the frame check sequence (ITU-T V.41 CRC, as
// ISO/IEC 13239 HDLC has it), bits in transmission order (first bit in bit 0 of each byte).
// Guarantees: EscapeDle/TDleDecoder round-trip every byte string; decoders reset cleanly; the
// bit decoder keeps at most one frame of a bounded size and never fails on any input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace telvane::transport::hdlc {

inline constexpr uint8_t DLE = 0x10;
inline constexpr uint8_t ETX = 0x03;
inline constexpr uint8_t SUB = 0x1A;  // DLE SUB stands for two DLEs (T.31 receive data)

// The bytes written to the modem for one frame (control 0x13 when final, 0x03 otherwise).
std::vector<uint8_t> buildFrame(uint8_t fcf, const std::vector<uint8_t>& fif, bool final);

// Appends `data` to `out` with every DLE doubled.
void escapeDle(const uint8_t* data, size_t len, std::vector<uint8_t>& out);

// Undoubles modem data until DLE ETX. feed() consumes bytes and returns how many it took;
// it stops right after DLE ETX (done() is then true). Bytes beyond `maxBytes` are counted
// but not kept (overflow() tells). Other DLE pairs are dropped, DLE SUB gives two DLEs.
class TDleDecoder {
public:
    explicit TDleDecoder(size_t maxBytes = 1 << 20) : max_(maxBytes) {}
    void reset();
    size_t feed(const uint8_t* data, size_t len);
    bool done() const { return done_; }
    bool overflow() const { return overflow_; }
    const std::vector<uint8_t>& Data() const { return data_; }
    std::vector<uint8_t>& Data() { return data_; }
    size_t count() const { return count_; }  // data bytes decoded, kept or not
    size_t nonZero() const { return nonZero_; }
    void setKeep(bool keep) { keep_ = keep; }

private:
    void put(uint8_t b);
    size_t max_;
    bool keep_ = true;
    bool pendingDle_ = false;
    bool done_ = false;
    bool overflow_ = false;
    size_t count_ = 0;
    size_t nonZero_ = 0;
    std::vector<uint8_t> data_;
};

// A received frame: address, control, FCF and FIF as the modem delivered them.
struct TFrame {
    uint8_t Control = 0;
    uint8_t Fcf = 0;
    std::vector<uint8_t> Fif;
    bool isFinal() const { return (Control & 0x10) != 0; }
};

// Reads a frame from the decoded bytes of one "AT+FRH=3" reception. False when the bytes are
// too short to hold address, control and FCF.
bool parseFrame(const std::vector<uint8_t>& bytes, TFrame& frame);

// The frame check sequence of `len` bytes (CRC-16 of V.41, complemented; sent low byte first).
uint16_t frameCheck(const uint8_t* data, size_t len);

// Builds a bit stream of flags and frames to be sent as page data.
class THdlcEncoder {
public:
    void addFlags(int count);
    // Address, control, FCF and FIF of a frame; the FCS is added, then one closing flag.
    void addFrame(const std::vector<uint8_t>& body);
    // The stream so far, its last byte filled with 1 bits (the line's idle state).
    std::vector<uint8_t> bytes() const;

private:
    void putBit(bool one);
    void putByte(uint8_t b, bool stuffed);
    std::vector<uint8_t> out_;
    int bits_ = 0;  // bits used in out_.back() (8: full)
    int ones_ = 0;  // 1 bits in a row in a frame's body
};

// Finds the frames in a bit stream received as page data: each frame with a good FCS is
// handed on (address, control, FCF, FIF; FCS taken off); a frame with a bad FCS, too short, or
// longer than `maxBytes` is counted and dropped.
class THdlcDecoder {
public:
    explicit THdlcDecoder(size_t maxBytes = 512) : max_(maxBytes) {}
    // Decodes `len` bytes; `frames` receives the good frames ended in them.
    void feed(const uint8_t* data, size_t len, std::vector<std::vector<uint8_t>>& frames);
    int badFrames() const { return bad_; }

private:
    void putBit(bool one);
    void endFrame(std::vector<std::vector<uint8_t>>& frames);
    size_t max_;
    std::vector<uint8_t> frame_;
    int ones_ = 0;  // 1 bits in a row, not yet taken
    uint8_t byte_ = 0;
    int nbits_ = 0;
    bool inFrame_ = false;
    bool overlong_ = false;
    int bad_ = 0;
};

// Readable form of a frame for the logs ("DIS final ff 13 80 00 4e f9 00").
std::string describeFrame(const TFrame& frame);

}  // namespace telvane::transport::hdlc
