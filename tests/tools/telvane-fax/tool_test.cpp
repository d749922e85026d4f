// telvane-fax as scripts run it, against a scripted modem on a pseudo-terminal: the number given
// is dialled by the same rule as the program's send dialog in every fax class, and a number a
// modem cannot dial is refused before the modem is touched.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "support/peers.h"
#include "support/ptymodem.h"
#include "support/tempdir.h"

namespace telvane::test {
namespace {

std::string dialCommand(const FakeModem& modem) {
    for (const std::string& c : modem.commands())
        if (c.rfind("ATD", 0) == 0) return c;
    return {};
}

TEST(TelvaneFax, TheNumberIsDialledAsTheSendDialogDialsIt) {
    for (const char* faxClass : {"1", "2", "2.0"}) {
        SCOPED_TRACE(faxClass);
        TempDir dir;
        // The call finds no fax machine: the session ends right after the dial command.
        FakeModem modem(dir.file("modem"), [](const std::string& command) {
            if (command.rfind("ATD", 0) == 0) return std::string("\r\nNO CARRIER\r\n");
            if (command == "AT+FCLASS=?") return std::string("\r\n0,1,2,2.0\r\n\r\nOK\r\n");
            return FakeModem::standardReply(command);
        });
        std::ofstream(dir.file("letter.txt")) << "A short letter.\n";
        ASSERT_EQ(runCapture(toolPath("telvane-faxconv") + " to-fax " + dir.file("letter.txt") + " " +
                             dir.file("letter.ovf")),
                  0);
        std::string out;
        const int code = runCapture(toolPath("telvane-fax") + " send --device " + modem.path() + " --class " +
                                        faxClass + " --dial-attempts 1 --number '+1 (555) 010-0100, w *70#' " +
                                        dir.file("letter.ovf") + " 2>&1",
                                    &out);
        EXPECT_EQ(code, 1) << out;
        const std::string dial = dialCommand(modem);
        ASSERT_FALSE(dial.empty()) << out;
        // ATD, the tone or pulse letter, then the dialable characters only.
        EXPECT_EQ(dial.substr(4), "15550100100,W*70#") << dial;
    }
}

TEST(TelvaneFax, ANumberAModemCannotDialIsRefusedBeforeTheModemIsUsed) {
    TempDir dir;
    FakeModem modem(dir.file("modem"), FakeModem::standardReply);
    std::ofstream(dir.file("letter.txt")) << "A short letter.\n";
    std::string out;
    const int code = runCapture(toolPath("telvane-fax") + " send --device " + modem.path() +
                                    " --number 'call me maybe!' " + dir.file("letter.txt") + " 2>&1",
                                &out);
    EXPECT_EQ(code, 2) << out;
    EXPECT_NE(out.find("cannot dial"), std::string::npos) << out;
    EXPECT_TRUE(modem.commands().empty());
}

}  // namespace
}  // namespace telvane::test
