// Trace and event-log formats and their circular buffers.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "transport/tracelog.h"

using namespace telvane::transport;

namespace {
std::vector<std::pair<char, uint8_t>> entries(char kind, const std::string& bytes) {
    std::vector<std::pair<char, uint8_t>> v;
    for (unsigned char c : bytes) v.emplace_back(kind, c);
    return v;
}

std::string readFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}
}  // namespace

TEST(TraceFormat, RunsGetHeadingsAndBytesAreEscaped) {
    auto e = entries('T', "AT Z\r");
    auto r = entries('R', "\r\nOK\r\n");
    e.insert(e.end(), r.begin(), r.end());
    e.emplace_back('X', 0x41);
    EXPECT_EQ(formatTrace(e, {true, false}),
              "Transmit: AT[20]Z[0D]\n"
              "Receive: [0D][0A]OK[0D][0A]\n"
              "Special-X: A\n");
    // Without hex: decimal brackets and the space as itself.
    EXPECT_EQ(formatTrace(entries('T', "AT Z\r\x7f"), {false, false}), "Transmit: AT Z[13][127]\n");
    // All hex: every byte bracketed.
    EXPECT_EQ(formatTrace(entries('R', "OK"), {true, true}), "Receive: [4F][4B]\n");
    EXPECT_EQ(formatTrace({}, {true, false}), "");
}

TEST(TraceFormat, LinesWrapBeforeColumn78WithoutSplittingItems) {
    const std::string text = formatTrace(entries('R', std::string(40, '\x10')), {true, false});
    std::istringstream in(text);
    std::string line;
    std::vector<std::string> lines;
    while (std::getline(in, line)) lines.push_back(line);
    ASSERT_EQ(lines.size(), 3u);
    // "Receive: " is 9 columns; each item 4: 17 items fit on the first line (77 columns).
    EXPECT_EQ(lines[0].size(), 9u + 17 * 4);
    EXPECT_EQ(lines[1].size(), 19u * 4);
    EXPECT_EQ(lines[2].size(), 4u * 4);
    for (const auto& l : lines) EXPECT_LE(l.size(), 78u);
    EXPECT_EQ(lines[1].substr(0, 4), "[10]");
}

TEST(TraceRing, KeepsTheNewestEntriesAndFollowsTheStates) {
    TOvxTrace t;
    const uint8_t bytes[] = {'a', 'b', 'c', 'd', 'e'};
    t.add('T', bytes, 5);  // not recording yet
    EXPECT_TRUE(t.entries().empty());
    t.start(3);
    t.add('T', bytes, 5);
    auto e = t.entries();
    ASSERT_EQ(e.size(), 3u);
    EXPECT_EQ(e[0].second, 'c');
    EXPECT_EQ(e[2].second, 'e');
    t.pause();
    t.add('R', bytes, 1);
    EXPECT_EQ(t.entries().size(), 3u);
    t.clearAll();
    EXPECT_TRUE(t.entries().empty());
    t.start(3);
    t.add('R', bytes, 1);
    t.stop();
    EXPECT_TRUE(t.entries().empty());
    EXPECT_FALSE(t.recording());
}

TEST(TraceRing, WriteFileReplacesOrAppends) {
    const std::string path = std::filesystem::temp_directory_path() / "telvane-trace-test.trc";
    TOvxTrace t;
    t.start(100);
    const uint8_t ok[] = {'O', 'K'};
    t.add('R', ok, 2);
    ASSERT_TRUE(t.writeFile(path, false, {}));
    ASSERT_TRUE(t.writeFile(path, true, {}));
    EXPECT_EQ(readFile(path), "Receive: OK\nReceive: OK\n");
    ASSERT_TRUE(t.writeFile(path, false, {}));
    EXPECT_EQ(readFile(path), "Receive: OK\n");
    std::remove(path.c_str());
    EXPECT_FALSE(t.writeFile("/nonexistent-dir/x.trc", false, {}));
}

TEST(EventLogFormat, LineLayoutMatchesTheFixedColumns) {
    TOvxLogEntry e{12345, ltTrigger, lsData, 0, 0x1a, {}};
    EXPECT_EQ(formatLogLine(e, {}), "0012.345  Trigger   Data          0000001a");
    TOvxLogEntry fax{9999999, ltFax, lsNone, 0, 3, "tf1Init1"};
    EXPECT_EQ(formatLogLine(fax, {}), "9999.999  Fax       tf1Init1      00000003");
    TOvxLogEntry st{0, ltTrigAlloc, lsStatus, 5, 7, {}};
    EXPECT_EQ(formatLogLine(st, {}), "0000.000  TrigAllc  Status        00000007  (Output sent)");
    TOvxLogEntry off{0, ltTrigDataChange, lsStatus, static_cast<uint8_t>(1 | kLogNotActive), 0, {}};
    EXPECT_EQ(formatLogLine(off, {}), "0000.000  TrDatChg  Status        00000000  (Not active)");
    TOvxLogEntry rd{1, ltDispatch, lsReadCom, 0, 3, "OK\r"};
    EXPECT_EQ(formatLogLine(rd, {}), "0000.001  Dispatch  ReadCom       00000003  OK[0D]");
}

TEST(EventLogFormat, TypeNamesAndHeader) {
    EXPECT_STREQ(logTypeName(ltNone), "No event");
    EXPECT_STREQ(logTypeName(ltTrigHandlerDispose), "TrgHdDsp");
    EXPECT_STREQ(logTypeName(ltUser), "User");
    const std::string h = logFileHeader();
    EXPECT_EQ(h.rfind("OVEX v3.04\n", 0), 0u);
    EXPECT_NE(h.find("\nCompiler : "), std::string::npos);
    EXPECT_NE(h.find("\nOperating System : "), std::string::npos);
}

TEST(EventLogRing, DropsOldestEntriesByByteSize) {
    TOvxFakeClock clock;
    TOvxEventLog log(clock);
    log.start(3 * TOvxEventLog::kHeaderBytes + 4);
    clock.setMs(5);
    log.add(ltUser, 1, 1);
    log.add(ltUser, 2, 2, "abcd");  // 20 bytes
    log.add(ltUser, 3, 3);          // total 52 = capacity
    auto e = log.entries();
    ASSERT_EQ(e.size(), 3u);
    EXPECT_EQ(e[0].TimeMs, 5);
    log.add(ltUser, 4, 4);  // must drop the first
    e = log.entries();
    ASSERT_EQ(e.size(), 3u);
    EXPECT_EQ(e.front().Value, 2u);
    log.add(ltUser, 5, 5, std::string(100, 'x'));  // larger than the ring: truncated, alone
    e = log.entries();
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(e[0].Data.size(), 3 * TOvxEventLog::kHeaderBytes + 4 - TOvxEventLog::kHeaderBytes);
}
