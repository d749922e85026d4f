// Receive mode on the desktop. When a fax has arrived, a desktop notification names the sender
// and the pages: a freedesktop notification over D-Bus when a notification service runs (and
// Qt DBus was found at build time), otherwise the tray icon's message. Where the platform has
// a system tray, a tray icon appears the first time receive mode is turned on and stays for the
// run: its tooltip and look tell whether Telvane is receiving, its menu offers Show, Receive and
// Stop (the same command as the main window's Receive button). Without a tray neither is shown.
#pragma once

#include <QObject>
#include <QString>

class QAction;
class QMenu;
class QSystemTrayIcon;

namespace telvane::app {
class IMainWindow;
}  // namespace telvane::app

namespace telvane::sessions {

class TReceiveMode;

class TDesktopPresence : public QObject {
    Q_OBJECT
public:
    TDesktopPresence(app::IMainWindow& main, TReceiveMode& receive);
    ~TDesktopPresence() override;

    // "Fax received" and "From SENDER, N pages"; the sender is a remote station's ID, with the
    // characters of markup and control characters left out (see the source).
    static QString arrivalSummary();
    static QString arrivalBody(const QString& sender, int pages);

    // The tray icon once it exists (receive mode was on and the platform has a tray).
    QSystemTrayIcon* trayIcon() const { return tray_; }
    QAction* showAction() const { return show_; }
    QAction* receiveAction() const { return receive_; }
    QAction* stopAction() const { return stop_; }

    void receiveModeChanged(bool on);
    void faxReceived(const QString& sender, int pages);

signals:
    // A notification was handed to the desktop ("dbus" or "tray").
    void notified(const QString& route, const QString& summary, const QString& body);

private:
    void makeTray();
    void startOrStopReceiving(bool on);
    bool notifyOverDBus(const QString& summary, const QString& body);

    app::IMainWindow& main_;
    bool receiving_ = false;
    QSystemTrayIcon* tray_ = nullptr;
    QMenu* menu_ = nullptr;
    QAction* show_ = nullptr;
    QAction* receive_ = nullptr;
    QAction* stop_ = nullptr;
};

}  // namespace telvane::sessions
