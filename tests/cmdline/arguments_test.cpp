// The tools' argument parser: values taken verbatim and in order, each kind of fault reported with
// the argument at fault (and stopping there), numbers strict and within range, operands and help.
#include "cmdline/arguments.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

using namespace telvane::cmdline;

struct Fixture {
    std::string device, header;
    long bps = 14400;
    int rings = 1;
    bool once = false;
    std::vector<std::string> files;
    Parser parser;
    Fixture() {
        parser.help({"--help", "-h"})
            .text("--device", device)
            .text("--header", header)
            .number("--bps", bps, 0, 33600)
            .number("--rings", rings, 1, 9, "a number from 1 to 9")
            .flag("--once", once)
            .operands(files);
    }
};

TEST(Parser, TakesOptionsValuesAndOperandsInOrder) {
    Fixture f;
    const ParseResult r =
        f.parser.parse({"a.ovf", "--device", "/dev/ttyS0", "--header", "-x-", "--once", "--bps", "9600", "", "b"});
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(f.device, "/dev/ttyS0");
    EXPECT_EQ(f.header, "-x-");  // a value may start with '-'
    EXPECT_EQ(f.bps, 9600);
    EXPECT_TRUE(f.once);
    EXPECT_EQ(f.files, (std::vector<std::string>{"a.ovf", "", "b"}));
    // A later option overrides an earlier one.
    Fixture g;
    EXPECT_TRUE(g.parser.parse({"--device", "x", "--device", "y"}).ok());
    EXPECT_EQ(g.device, "y");
}

TEST(Parser, ReportsTheFirstFaultWithTheArgumentAtFault) {
    struct Case {
        std::vector<std::string> args;
        Status status;
        std::string argument, value, needs;
    };
    const Case cases[] = {
        {{"--bogus", "--bps"}, Status::unknownOption, "--bogus", "", ""},
        {{"--device=/dev/ttyS0"}, Status::unknownOption, "--device=/dev/ttyS0", "", ""},
        {{"-"}, Status::unknownOption, "-", "", ""},
        {{"--once", "--device"}, Status::missingValue, "--device", "", "a value"},
        {{"--bps", "12x", "--bogus"}, Status::badValue, "--bps", "12x", "a number"},
        {{"--bps", "40000"}, Status::badValue, "--bps", "40000", "a number"},
        {{"--bps", "-1"}, Status::badValue, "--bps", "-1", "a number"},
        {{"--bps", ""}, Status::badValue, "--bps", "", "a number"},
        {{"--bps", " 96"}, Status::badValue, "--bps", " 96", "a number"},
        {{"--rings", "0"}, Status::badValue, "--rings", "0", "a number from 1 to 9"},
        {{"--rings", "99999999999999999999"},
         Status::badValue,
         "--rings",
         "99999999999999999999",
         "a number from 1 to 9"},
        {{"--bogus", "--help"}, Status::unknownOption, "--bogus", "", ""},
        {{"x", "-h", "--bogus"}, Status::help, "-h", "", ""},
    };
    for (const Case& c : cases) {
        Fixture f;
        const ParseResult r = f.parser.parse(c.args);
        const std::string at = c.args.front();
        EXPECT_EQ(r.status, c.status) << at;
        EXPECT_EQ(r.argument, c.argument) << at;
        EXPECT_EQ(r.value, c.value) << at;
        EXPECT_EQ(r.needs, c.needs) << at;
        EXPECT_FALSE(r.ok()) << at;
    }
    // Nothing after the fault is taken.
    Fixture f;
    f.parser.parse({"--bogus", "--device", "x", "file"});
    EXPECT_EQ(f.device, "");
    EXPECT_TRUE(f.files.empty());
    EXPECT_EQ(f.bps, 14400);
}

TEST(Parser, OperandsWithoutATakerAreUnknownAndATakerMayRefuse) {
    Parser none;
    bool flag = false;
    none.flag("--x", flag);
    EXPECT_EQ(none.parse({"--x", "file"}).status, Status::unknownOption);

    std::string command;
    Parser one;
    one.operands([&](const std::string& a) {
        if (!command.empty()) return false;
        command = a;
        return true;
    });
    const ParseResult r = one.parse({"check", "extra"});
    EXPECT_EQ(r.status, Status::unexpectedOperand);
    EXPECT_EQ(r.argument, "extra");
    EXPECT_EQ(command, "check");

    std::vector<std::string> files;
    Parser dash;
    dash.operands(files).loneDashIsOperand();
    EXPECT_TRUE(dash.parse({"-", "out"}).ok());
    EXPECT_EQ(files, (std::vector<std::string>{"-", "out"}));
    EXPECT_EQ(dash.parse({"--"}).status, Status::unknownOption);
}

TEST(Parser, ArgvFromTheGivenIndex) {
    std::string device;
    std::vector<std::string> files;
    Parser p;
    p.text("--device", device).operands(files);
    char a0[] = "telvane-fax", a1[] = "send", a2[] = "--device", a3[] = "d", a4[] = "f";
    char* argv[] = {a0, a1, a2, a3, a4};
    EXPECT_TRUE(p.parse(5, argv, 2).ok());
    EXPECT_EQ(device, "d");
    EXPECT_EQ(files, (std::vector<std::string>{"f"}));
    EXPECT_TRUE(p.parse(1, argv, 2).ok());  // fewer arguments than the first index: none
}

TEST(ParseInteger, StrictDecimalWithinRange) {
    long v = 7;
    EXPECT_TRUE(parseInteger("0", 0, 10, v));
    EXPECT_EQ(v, 0);
    EXPECT_TRUE(parseInteger("-5", -10, 10, v));
    EXPECT_EQ(v, -5);
    EXPECT_TRUE(parseInteger(std::to_string(LONG_MAX / 10), 0, LONG_MAX, v));
    for (const char* bad : {"", "-", "+5", "5 ", "0x10", "1e3", "11"}) {
        v = 7;
        EXPECT_FALSE(parseInteger(bad, -10, 10, v)) << bad;
        EXPECT_EQ(v, 7) << bad;  // untouched on failure
    }
}

}  // namespace
