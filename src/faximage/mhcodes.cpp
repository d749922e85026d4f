// T.4 Modified Huffman code tables, written out as in the standard and bit-reversed once at
// start-up into the form the line coder appends (first transmitted bit in bit 0).
#include "faximage/mhcodes.h"

#include <array>

namespace telvane::faximage::mh {

namespace {

const CodeEntry kCodes[] = {
    {false, true, 0, "00110101"},
    {false, true, 1, "000111"},
    {false, true, 2, "0111"},
    {false, true, 3, "1000"},
    {false, true, 4, "1011"},
    {false, true, 5, "1100"},
    {false, true, 6, "1110"},
    {false, true, 7, "1111"},
    {false, true, 8, "10011"},
    {false, true, 9, "10100"},
    {false, true, 10, "00111"},
    {false, true, 11, "01000"},
    {false, true, 12, "001000"},
    {false, true, 13, "000011"},
    {false, true, 14, "110100"},
    {false, true, 15, "110101"},
    {false, true, 16, "101010"},
    {false, true, 17, "101011"},
    {false, true, 18, "0100111"},
    {false, true, 19, "0001100"},
    {false, true, 20, "0001000"},
    {false, true, 21, "0010111"},
    {false, true, 22, "0000011"},
    {false, true, 23, "0000100"},
    {false, true, 24, "0101000"},
    {false, true, 25, "0101011"},
    {false, true, 26, "0010011"},
    {false, true, 27, "0100100"},
    {false, true, 28, "0011000"},
    {false, true, 29, "00000010"},
    {false, true, 30, "00000011"},
    {false, true, 31, "00011010"},
    {false, true, 32, "00011011"},
    {false, true, 33, "00010010"},
    {false, true, 34, "00010011"},
    {false, true, 35, "00010100"},
    {false, true, 36, "00010101"},
    {false, true, 37, "00010110"},
    {false, true, 38, "00010111"},
    {false, true, 39, "00101000"},
    {false, true, 40, "00101001"},
    {false, true, 41, "00101010"},
    {false, true, 42, "00101011"},
    {false, true, 43, "00101100"},
    {false, true, 44, "00101101"},
    {false, true, 45, "00000100"},
    {false, true, 46, "00000101"},
    {false, true, 47, "00001010"},
    {false, true, 48, "00001011"},
    {false, true, 49, "01010010"},
    {false, true, 50, "01010011"},
    {false, true, 51, "01010100"},
    {false, true, 52, "01010101"},
    {false, true, 53, "00100100"},
    {false, true, 54, "00100101"},
    {false, true, 55, "01011000"},
    {false, true, 56, "01011001"},
    {false, true, 57, "01011010"},
    {false, true, 58, "01011011"},
    {false, true, 59, "01001010"},
    {false, true, 60, "01001011"},
    {false, true, 61, "00110010"},
    {false, true, 62, "00110011"},
    {false, true, 63, "00110100"},
    {false, true, 64, "11011"},
    {false, true, 128, "10010"},
    {false, true, 192, "010111"},
    {false, true, 256, "0110111"},
    {false, true, 320, "00110110"},
    {false, true, 384, "00110111"},
    {false, true, 448, "01100100"},
    {false, true, 512, "01100101"},
    {false, true, 576, "01101000"},
    {false, true, 640, "01100111"},
    {false, true, 704, "011001100"},
    {false, true, 768, "011001101"},
    {false, true, 832, "011010010"},
    {false, true, 896, "011010011"},
    {false, true, 960, "011010100"},
    {false, true, 1024, "011010101"},
    {false, true, 1088, "011010110"},
    {false, true, 1152, "011010111"},
    {false, true, 1216, "011011000"},
    {false, true, 1280, "011011001"},
    {false, true, 1344, "011011010"},
    {false, true, 1408, "011011011"},
    {false, true, 1472, "010011000"},
    {false, true, 1536, "010011001"},
    {false, true, 1600, "010011010"},
    {false, true, 1664, "011000"},
    {false, true, 1728, "010011011"},
    {true, false, 0, "0000110111"},
    {true, false, 1, "010"},
    {true, false, 2, "11"},
    {true, false, 3, "10"},
    {true, false, 4, "011"},
    {true, false, 5, "0011"},
    {true, false, 6, "0010"},
    {true, false, 7, "00011"},
    {true, false, 8, "000101"},
    {true, false, 9, "000100"},
    {true, false, 10, "0000100"},
    {true, false, 11, "0000101"},
    {true, false, 12, "0000111"},
    {true, false, 13, "00000100"},
    {true, false, 14, "00000111"},
    {true, false, 15, "000011000"},
    {true, false, 16, "0000010111"},
    {true, false, 17, "0000011000"},
    {true, false, 18, "0000001000"},
    {true, false, 19, "00001100111"},
    {true, false, 20, "00001101000"},
    {true, false, 21, "00001101100"},
    {true, false, 22, "00000110111"},
    {true, false, 23, "00000101000"},
    {true, false, 24, "00000010111"},
    {true, false, 25, "00000011000"},
    {true, false, 26, "000011001010"},
    {true, false, 27, "000011001011"},
    {true, false, 28, "000011001100"},
    {true, false, 29, "000011001101"},
    {true, false, 30, "000001101000"},
    {true, false, 31, "000001101001"},
    {true, false, 32, "000001101010"},
    {true, false, 33, "000001101011"},
    {true, false, 34, "000011010010"},
    {true, false, 35, "000011010011"},
    {true, false, 36, "000011010100"},
    {true, false, 37, "000011010101"},
    {true, false, 38, "000011010110"},
    {true, false, 39, "000011010111"},
    {true, false, 40, "000001101100"},
    {true, false, 41, "000001101101"},
    {true, false, 42, "000011011010"},
    {true, false, 43, "000011011011"},
    {true, false, 44, "000001010100"},
    {true, false, 45, "000001010101"},
    {true, false, 46, "000001010110"},
    {true, false, 47, "000001010111"},
    {true, false, 48, "000001100100"},
    {true, false, 49, "000001100101"},
    {true, false, 50, "000001010010"},
    {true, false, 51, "000001010011"},
    {true, false, 52, "000000100100"},
    {true, false, 53, "000000110111"},
    {true, false, 54, "000000111000"},
    {true, false, 55, "000000100111"},
    {true, false, 56, "000000101000"},
    {true, false, 57, "000001011000"},
    {true, false, 58, "000001011001"},
    {true, false, 59, "000000101011"},
    {true, false, 60, "000000101100"},
    {true, false, 61, "000001011010"},
    {true, false, 62, "000001100110"},
    {true, false, 63, "000001100111"},
    {true, false, 64, "0000001111"},
    {true, false, 128, "000011001000"},
    {true, false, 192, "000011001001"},
    {true, false, 256, "000001011011"},
    {true, false, 320, "000000110011"},
    {true, false, 384, "000000110100"},
    {true, false, 448, "000000110101"},
    {true, false, 512, "0000001101100"},
    {true, false, 576, "0000001101101"},
    {true, false, 640, "0000001001010"},
    {true, false, 704, "0000001001011"},
    {true, false, 768, "0000001001100"},
    {true, false, 832, "0000001001101"},
    {true, false, 896, "0000001110010"},
    {true, false, 960, "0000001110011"},
    {true, false, 1024, "0000001110100"},
    {true, false, 1088, "0000001110101"},
    {true, false, 1152, "0000001110110"},
    {true, false, 1216, "0000001110111"},
    {true, false, 1280, "0000001010010"},
    {true, false, 1344, "0000001010011"},
    {true, false, 1408, "0000001010100"},
    {true, false, 1472, "0000001010101"},
    {true, false, 1536, "0000001011010"},
    {true, false, 1600, "0000001011011"},
    {true, false, 1664, "0000001100100"},
    {true, false, 1728, "0000001100101"},
    {true, true, 1792, "00000001000"},
    {true, true, 1856, "00000001100"},
    {true, true, 1920, "00000001101"},
    {true, true, 1984, "000000010010"},
    {true, true, 2048, "000000010011"},
    {true, true, 2112, "000000010100"},
    {true, true, 2176, "000000010101"},
    {true, true, 2240, "000000010110"},
    {true, true, 2304, "000000010111"},
    {true, true, 2368, "000000011100"},
    {true, true, 2432, "000000011101"},
    {true, true, 2496, "000000011110"},
    {true, true, 2560, "000000011111"},
    {true, true, -1, "000000000001"},
};

struct Tables {
    std::array<Code, 64> term[2];
    std::array<Code, 41> makeup[2];  // index run / 64, 1..40
    Tables() {
        for (const CodeEntry& e : kCodes) {
            if (e.run < 0) continue;
            Code c{0, 0};
            for (const char* p = e.bits; *p; ++p, ++c.length)
                if (*p == '1') c.bits |= std::uint16_t(1u << c.length);
            for (int colour = 0; colour < 2; ++colour) {
                if (!(colour ? e.black : e.white)) continue;
                if (e.run < 64)
                    term[colour][e.run] = c;
                else
                    makeup[colour][e.run / 64] = c;
            }
        }
    }
};

const Tables& tables() {
    static const Tables t;
    return t;
}

}  // namespace

const Code& terminating(bool black, int run) { return tables().term[black][run]; }

const Code& makeup(bool black, int run) { return tables().makeup[black][run / 64]; }

const Code* terminatingTable(bool black) { return tables().term[black].data(); }

const Code* makeupTable(bool black) { return tables().makeup[black].data(); }

const CodeEntry* allCodes(int& count) {
    count = int(sizeof kCodes / sizeof kCodes[0]);
    return kCodes;
}

}  // namespace telvane::faximage::mh
