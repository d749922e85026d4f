// One running instance per user and data directory. The first instance listens on a local socket;
// a later start connects, asks it to raise its main window, and ends at once.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

class QLocalServer;

namespace telvane::app {

class SingleInstanceGuard : public QObject {
    Q_OBJECT
public:
    // programName: the executable's file name; programDir: the data directory.
    SingleInstanceGuard(const QString& programName, const QString& programDir, QObject* parent = nullptr);
    ~SingleInstanceGuard() override;

    // True when another instance answered; it has been asked to raise its window.
    bool previousInstanceFound() const { return previous_; }
    // The window raised when a later instance starts.
    void setWindow(QWidget* window) { window_ = window; }

    static QString serverName(const QString& programName, const QString& programDir);

private:
    void raiseWindow();

    QLocalServer* server_ = nullptr;
    QPointer<QWidget> window_;
    bool previous_ = false;
};

}  // namespace telvane::app
