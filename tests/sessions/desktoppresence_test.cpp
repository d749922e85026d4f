// Receive mode on the desktop: the notification of an arrived fax reaches a freedesktop
// notification service on a private session bus (a real dbus-daemon started by the test, the
// service on its own connection), names the sender as plain text and counts the pages; receive
// mode reports its turning on and off; without a system tray (offscreen) no tray icon is made
// and, without a notification service, nothing is shown.
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QSystemTrayIcon>
#include <QToolButton>
#include <QVariantMap>

#include <csignal>
#include <cstdio>
#include <vector>

#include "support/ptymodem.h"
#include "faximage/mhcoder.h"
#include "faximage/ovffile.h"
#include "sessions/desktoppresence.h"
#include "sessions/receivemode.h"
#include "sessions/sessionhooks.h"
#include "receive_fixture.h"
#include "shell/mainscreen.h"

namespace telvane::sessiontest {

// A notification server with the Notify method of the freedesktop.org notification interface.
class FakeNotifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Note {
        QString app, icon, summary, body;
        QVariantMap hints;
    };
    std::vector<Note> notes;
public slots:
    uint Notify(const QString& app, uint, const QString& icon, const QString& summary, const QString& body,
                const QStringList&, const QVariantMap& hints, int) {
        notes.push_back({app, icon, summary, body, hints});
        return uint(notes.size());
    }
};

namespace {

using namespace telvane::sessions;

// A session bus of the test's own; set before Qt first connects to the session bus.
struct PrivateBus {
    PrivateBus() {
        FILE* p = ::popen("dbus-daemon --session --fork --print-address=1 --print-pid=1 2>/dev/null", "r");
        if (!p) return;
        char line[512] = {};
        if (std::fgets(line, sizeof line, p)) address = QString::fromLocal8Bit(line).trimmed();
        if (std::fgets(line, sizeof line, p)) pid = std::atoi(line);
        ::pclose(p);
        if (!address.isEmpty()) qputenv("DBUS_SESSION_BUS_ADDRESS", address.toLocal8Bit());
    }
    ~PrivateBus() {
        if (pid > 0) ::kill(pid, SIGTERM);
    }
    QString address;
    int pid = 0;
};

PrivateBus& bus() {
    static PrivateBus b;
    return b;
}

class DesktopPresenceTest : public ReceiveWindowTest {
protected:
    void SetUp() override {
        ReceiveWindowTest::SetUp();
        mode_ = &TReceiveMode::of(*main_);
        presence_ = mode_->findChild<TDesktopPresence*>();
        ASSERT_NE(presence_, nullptr) << "receive mode has no desktop presence";
        QObject::connect(presence_, &TDesktopPresence::notified,
                         [this](const QString& route, const QString&, const QString&) { routes_.push_back(route); });
    }
    TReceiveMode* mode_ = nullptr;
    TDesktopPresence* presence_ = nullptr;
    std::vector<QString> routes_;
};

TEST(DesktopPresenceText, NamesSenderAsPlainTextAndCountsPages) {
    EXPECT_EQ(TDesktopPresence::arrivalSummary(), "Fax received");
    EXPECT_EQ(TDesktopPresence::arrivalBody(QStringLiteral(" ACME SALES "), 3), "From ACME SALES, 3 pages");
    EXPECT_EQ(TDesktopPresence::arrivalBody(QStringLiteral("+1 555 0100"), 1), "From +1 555 0100, 1 page");
    EXPECT_EQ(TDesktopPresence::arrivalBody(QStringLiteral("   "), 2), "From an unknown sender, 2 pages");
    // A station ID is chosen by the caller: markup and control characters in it must reach
    // neither the notification server nor the tray's balloon.
    EXPECT_EQ(TDesktopPresence::arrivalBody(QStringLiteral("<a href=\"x\">&</a>"), 1), "From a href=x/a, 1 page");
    EXPECT_EQ(TDesktopPresence::arrivalBody(QStringLiteral("BANK\r\n\x1b[2J  X"), 4), "From BANK[2J X, 4 pages");
}

TEST_F(DesktopPresenceTest, ArrivedFaxIsAnnouncedToTheNotificationService) {
    ASSERT_FALSE(bus().address.isEmpty()) << "dbus-daemon could not be started (package dbus-daemon)";
    FakeNotifications server;
    QDBusConnection own = QDBusConnection::connectToBus(bus().address, QStringLiteral("notification-server"));
    ASSERT_TRUE(own.isConnected());
    ASSERT_TRUE(
        own.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &server, QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(own.registerService(QStringLiteral("org.freedesktop.Notifications")));

    receive(*mode_, QStringLiteral("FAX0001.OVF"), "ACME <SALES>", 2);
    ASSERT_TRUE(waitUntil([&] { return !server.notes.empty(); }, 20)) << "no notification arrived";
    ASSERT_EQ(server.notes.size(), 1u);
    const FakeNotifications::Note& n = server.notes[0];
    EXPECT_EQ(n.app, "Telvane");
    EXPECT_EQ(n.icon, "telvane");
    EXPECT_EQ(n.summary, "Fax received");
    EXPECT_EQ(n.body, "From ACME SALES, 2 pages");
    EXPECT_EQ(n.hints.value(QStringLiteral("desktop-entry")).toString(), "org.telvane.Telvane");
    EXPECT_EQ(routes_, std::vector<QString>{QStringLiteral("dbus")});
    // The fax was logged as before.
    EXPECT_EQ(main_->RecTable().visibleCount(), 1u);

    // Once the service has gone, a fax arriving is still logged and nothing is shown (no tray).
    own.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
    QDBusConnection::disconnectFromBus(QStringLiteral("notification-server"));
    ASSERT_TRUE(waitUntil(
        [] {
            return !QDBusConnection::sessionBus().interface()->isServiceRegistered(
                QStringLiteral("org.freedesktop.Notifications"));
        },
        20));
    receive(*mode_, QStringLiteral("FAX0002.OVF"), "OTHER", 1);
    EXPECT_EQ(server.notes.size(), 1u);
    EXPECT_EQ(routes_.size(), 1u);
}

TEST_F(DesktopPresenceTest, ReceiveModeReportsOnAndOffAndNoTrayWithoutOne) {
    ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable()) << "offscreen has no tray";
    std::vector<bool> states;
    QObject::connect(mode_, &TReceiveMode::receiveModeChanged, [&](bool on) { states.push_back(on); });
    FakeModem modem(dir() + "modem", FakeModem::standardReply);
    settings::Settings& s = app::appSettings();
    s.Ports[1] = modem.path();
    s.Modem.ComPort = 1;
    s.Receive.DisableReceivingFaxesNotification = true;
    main_->ReceiveButtonClick();
    ASSERT_TRUE(main_->receiveMode());
    main_->ReceiveButtonClick();
    ASSERT_FALSE(main_->receiveMode());
    EXPECT_EQ(states, (std::vector<bool>{true, false}));
    EXPECT_EQ(presence_->trayIcon(), nullptr);

    // A start that fails at the port reports off only.
    states.clear();
    s.Ports[1] = dir() + "no-such-modem";
    main_->ReceiveButtonClick();
    EXPECT_FALSE(main_->receiveMode());
    EXPECT_EQ(states, (std::vector<bool>{false}));
}

}  // namespace
}  // namespace telvane::sessiontest

#include "desktoppresence_test.moc"
