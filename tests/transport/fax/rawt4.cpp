#include "rawt4.h"

namespace faxtest {

const uint8_t kBlank[6] = {0x00, 0x80, 0xB2, 0x59, 0x01, 0x00};
const uint8_t kEnd[12] = {0x00, 0x80, 0x00, 0x08, 0x80, 0x00, 0x08, 0x80, 0x00, 0x08, 0x80, 0x00};

std::vector<uint8_t> RawT4Page(int lines) {
    std::vector<uint8_t> data;
    for (int i = 0; i < lines; ++i) data.insert(data.end(), kBlank, kBlank + 6);
    data.insert(data.end(), kEnd, kEnd + 12);
    return data;
}

std::vector<size_t> CodedLineBits(const std::vector<uint8_t>& data) {
    std::vector<size_t> lines;
    size_t zeros = 0, bits = 0;
    bool hasData = false;
    for (uint8_t byte : data) {
        for (int b = 0; b < 8; ++b) {
            ++bits;
            if (((byte >> b) & 1) == 0) {
                ++zeros;
                continue;
            }
            if (zeros >= 11) {
                if (hasData) lines.push_back(bits);
                bits = 0;
                hasData = false;
            } else {
                hasData = true;
            }
            zeros = 0;
        }
    }
    return lines;
}

}  // namespace faxtest
