// The modem-command helpers against a scripted modem on a pseudo-terminal: what is sent, the
// reset-string fallback, "AT" prefixing that changes the setting, and the open-failure messages.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "support/ptymodem.h"
#include "transport/modemwait.h"
#include "sessions/modemcommands.h"
#include "sessions_fixture.h"

namespace telvane::sessiontest {
namespace {

using namespace telvane::sessions;

class ModemCommandsTest : public SessionsTest {
protected:
    void usePort(int comNumber, const std::string& path) {
        app::appSettings().Ports[comNumber - 1] = path;
        assignPort(port, comNumber);
    }
    telvane::transport::TOvxComPort port;
};

TEST_F(ModemCommandsTest, ModemThatAnswersAtIsFound) {
    FakeModem modem(dir() + "modem", FakeModem::standardReply);
    usePort(2, modem.path());
    QString message;
    ASSERT_TRUE(OpenComPort(port, message)) << message.toStdString();
    EXPECT_TRUE(message.isEmpty());
    EXPECT_TRUE(CheckForModem(port));
    EXPECT_TRUE(FactoryResetModem(port));
    closePort(port);
    EXPECT_EQ(modem.commands(), (std::vector<std::string>{"AT", "AT&F"}));
}

TEST_F(ModemCommandsTest, ModemThatAnswersOnlyAfterTheResetStringCountsAsFound) {
    FakeModem modem(dir() + "modem", [](const std::string& c) { return c == "ATZ" ? "\r\nOK\r\n" : ""; });
    usePort(1, modem.path());
    app::appSettings().Resetting.String = "ATZ";
    QString message;
    ASSERT_TRUE(OpenComPort(port, message));
    EXPECT_TRUE(CheckForModem(port));
    EXPECT_EQ(modem.commands(), (std::vector<std::string>{"AT", "ATZ"}));
    // Without a reset string the silent answer to AT is final.
    app::appSettings().Resetting.String = "   ";
    EXPECT_FALSE(CheckForModem(port));
    EXPECT_FALSE(FactoryResetModem(port));
    closePort(port);
}

TEST_F(ModemCommandsTest, ResetStringGetsAtInFrontAndKeepsIt) {
    FakeModem modem(dir() + "modem", FakeModem::standardReply);
    usePort(1, modem.path());
    QString message;
    ASSERT_TRUE(OpenComPort(port, message));
    std::string reset = "Z";
    EXPECT_TRUE(SendModemString(port, reset));
    EXPECT_EQ(reset, "ATZ");
    std::string lower = "&fat";
    EXPECT_TRUE(SendModemString(port, lower));
    EXPECT_EQ(lower, "&fat");
    closePort(port);
    EXPECT_EQ(modem.commands(), (std::vector<std::string>{"ATZ", "&fat"}));
}

// The engine's hang-up leaves the modem's "OK" in the input buffer; the after-session string
// that follows must get an answer of its own, not that one.
TEST_F(ModemCommandsTest, AnEarlierAnswerIsNotTakenForTheResetStringsOwn) {
    FakeModem modem(dir() + "modem", [](const std::string& c) { return c == "ATH" ? "\r\nOK\r\n" : ""; });
    usePort(1, modem.path());
    QString message;
    ASSERT_TRUE(OpenComPort(port, message));
    telvane::transport::writeString(port, "ATH\r");
    ASSERT_TRUE(waitUntil([&] { return port.inBuffUsed() >= 4; }, 10));
    std::string reset = "Z";
    EXPECT_FALSE(SendModemString(port, reset));
    closePort(port);
}

TEST_F(ModemCommandsTest, OpenFailuresNameThePortAndTheCause) {
    usePort(3, dir() + "no-such-device");
    QString message;
    EXPECT_FALSE(OpenComPort(port, message));
    EXPECT_TRUE(message.startsWith("Unable to open the specified communications port ( Com3 )"))
        << message.toStdString();
    EXPECT_TRUE(message.contains(qdir() + "no-such-device")) << message.toStdString();

    FakeModem modem(dir() + "modem", FakeModem::standardReply);
    telvane::transport::TOvxComPort other;
    app::appSettings().Ports[1] = modem.path();
    assignPort(other, 2);
    ASSERT_TRUE(OpenComPort(other, message));
    usePort(2, modem.path());
    EXPECT_FALSE(OpenComPort(port, message));
    EXPECT_TRUE(message.startsWith("The communications port is in use ( Com 2 )\r\n\r\nPlease make sure"))
        << message.toStdString();
    closePort(other);
    EXPECT_TRUE(OpenComPort(port, message));
    closePort(port);
}

TEST(openFailureMessage, TextsOfTheEngineCodes) {
    EXPECT_EQ(openFailureMessage(-2005, 4, "/dev/x"),
              "The communications port is in use ( Com 4 )\r\n\r\nPlease make sure that all communication programs "
              "(internet, AOL, etc) are closed, and then try again.");
    const QString denied = openFailureMessage(telvane::errors::ecFileAccessDenied, 1, "/dev/ttyS0");
    EXPECT_TRUE(denied.startsWith("Unable to open the specified communications port ( Com1 )\r\n"));
    EXPECT_TRUE(denied.contains("/dev/ttyS0"));
    EXPECT_TRUE(denied.contains("\"dialout\""));
    EXPECT_TRUE(openFailureMessage(-3001, 5, "")
                    .startsWith("Unable to open the specified communications port ( Com5 )\r\nError message: "));
    EXPECT_EQ(openFailureMessage(-123456, 6, ""),
              "Unable to open the specified communications port ( Com6 )\r\nError message: Unknown error");
}

}  // namespace
}  // namespace telvane::sessiontest
