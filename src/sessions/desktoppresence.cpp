// Notifications and the tray icon of receive mode.
#include "sessions/desktoppresence.h"

#include "sessions/receivemode.h"
#include "settings/installpaths.h"
#include "app/mainwindow.h"

#include <QAction>
#include <QFileInfo>
#include <QIcon>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QToolButton>

#ifdef TELVANE_HAVE_DBUS
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#endif

namespace telvane::sessions {

namespace {

const QString kNotificationsService = QStringLiteral("org.freedesktop.Notifications");

// The program's icon: from the icon theme, else the copy in the shared data directory.
QIcon programIcon() {
    const QString file = QString::fromStdString(settings::sharedDataDir()) + QStringLiteral("telvane.png");
    return QIcon::fromTheme(QStringLiteral("telvane"), QFileInfo(file).isFile() ? QIcon(file) : QIcon());
}

}  // namespace

TDesktopPresence::TDesktopPresence(app::IMainWindow& main, TReceiveMode& receive) : QObject(&receive), main_(main) {
    connect(&receive, &TReceiveMode::receiveModeChanged, this, &TDesktopPresence::receiveModeChanged);
    connect(&receive, &TReceiveMode::faxReceived, this, &TDesktopPresence::faxReceived);
}

TDesktopPresence::~TDesktopPresence() { delete menu_; }

QString TDesktopPresence::arrivalSummary() { return QStringLiteral("Fax received"); }

QString TDesktopPresence::arrivalBody(const QString& sender, int pages) {
    // The ID comes from the calling station. Notification servers may read markup and the tray's
    // balloon may take it for rich text, so the characters of markup and control characters are
    // dropped (station IDs are digits, '+' and spaces; anything else is the caller's doing).
    QString id;
    for (const QChar c : sender)
        if (c.isPrint() && c != u'<' && c != u'>' && c != u'&' && c != u'"') id += c;
    id = id.simplified();
    const QString who = id.isEmpty() ? QStringLiteral("an unknown sender") : id;
    return QStringLiteral("From %1, %2 %3")
        .arg(who)
        .arg(pages)
        .arg(pages == 1 ? QStringLiteral("page") : QStringLiteral("pages"));
}

void TDesktopPresence::makeTray() {
    if (tray_ || !QSystemTrayIcon::isSystemTrayAvailable()) return;
    menu_ = new QMenu;
    show_ = menu_->addAction(QStringLiteral("Show Telvane"), this, [this] {
        main_.widget()->showNormal();
        main_.widget()->raise();
        main_.widget()->activateWindow();
    });
    receive_ = menu_->addAction(QStringLiteral("Receive"), this, [this] { startOrStopReceiving(true); });
    stop_ = menu_->addAction(QStringLiteral("Stop receiving"), this, [this] { startOrStopReceiving(false); });
    tray_ = new QSystemTrayIcon(programIcon(), this);
    tray_->setContextMenu(menu_);
    connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) show_->trigger();
    });
}

// Goes through the main window's Receive button, so its rules (enabled state, the receive-mode
// lock, the start-up checks) apply exactly as for a click.
void TDesktopPresence::startOrStopReceiving(bool on) {
    if (on == receiving_) return;
    main_.clickReceiveButton();
}

void TDesktopPresence::receiveModeChanged(bool on) {
    receiving_ = on;
    if (on) makeTray();
    if (!tray_) return;
    tray_->setToolTip(on ? QStringLiteral("Telvane: receiving faxes") : QStringLiteral("Telvane: receive mode is off"));
    receive_->setEnabled(!on);
    stop_->setEnabled(on);
    const QIcon icon = programIcon();
    tray_->setIcon(on || icon.isNull() ? icon : QIcon(icon.pixmap(64, QIcon::Disabled)));
    tray_->show();
}

bool TDesktopPresence::notifyOverDBus(const QString& summary, const QString& body) {
#ifdef TELVANE_HAVE_DBUS
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface() || !bus.interface()->isServiceRegistered(kNotificationsService))
        return false;
    QDBusMessage call =
        QDBusMessage::createMethodCall(kNotificationsService, QStringLiteral("/org/freedesktop/Notifications"),
                                       kNotificationsService, QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("org.telvane.Telvane"));
    hints.insert(QStringLiteral("category"), QStringLiteral("transfer.complete"));
    call << QStringLiteral("Telvane") << uint(0) << QStringLiteral("telvane") << summary << body << QStringList()
         << hints << int(-1);
    // Never wait for the notification server: the fax line is more important.
    return bus.send(call);
#else
    Q_UNUSED(summary);
    Q_UNUSED(body);
    return false;
#endif
}

void TDesktopPresence::faxReceived(const QString& sender, int pages) {
    const QString summary = arrivalSummary();
    const QString body = arrivalBody(sender, pages);
    if (notifyOverDBus(summary, body)) {
        emit notified(QStringLiteral("dbus"), summary, body);
    } else if (tray_ && tray_->isVisible()) {
        tray_->showMessage(summary, body, QSystemTrayIcon::Information);
        emit notified(QStringLiteral("tray"), summary, body);
    }
}

}  // namespace telvane::sessions
