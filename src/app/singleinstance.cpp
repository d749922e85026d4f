// Single-instance guard over QLocalServer.
#include "app/singleinstance.h"

#include <QCryptographicHash>
#include <QLocalServer>
#include <QLocalSocket>
#include <QWidget>

#include <unistd.h>

namespace telvane::app {

QString SingleInstanceGuard::serverName(const QString& programName, const QString& programDir) {
    const QByteArray key =
        (programName + QLatin1Char('|') + QString::number(::getuid()) + QLatin1Char('|') + programDir).toUtf8();
    return programName + QLatin1Char('-') +
           QString::fromLatin1(QCryptographicHash::hash(key, QCryptographicHash::Sha1).toHex().left(16));
}

SingleInstanceGuard::SingleInstanceGuard(const QString& programName, const QString& programDir, QObject* parent)
    : QObject(parent) {
    const QString name = serverName(programName, programDir);
    {
        QLocalSocket probe;
        probe.connectToServer(name);
        if (probe.waitForConnected(1000)) {
            probe.write("raise\n");
            probe.waitForBytesWritten(1000);
            probe.disconnectFromServer();
            previous_ = true;
            return;
        }
    }
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(name)) {
        // A socket left by a crashed instance: nobody answered above, so it is stale.
        QLocalServer::removeServer(name);
        server_->listen(name);
    }
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* s = server_->nextPendingConnection()) {
            connect(s, &QLocalSocket::disconnected, s, &QObject::deleteLater);
            raiseWindow();
        }
    });
}

SingleInstanceGuard::~SingleInstanceGuard() = default;

void SingleInstanceGuard::raiseWindow() {
    if (!window_) return;
    if (window_->isMinimized())
        window_->showNormal();
    else
        window_->show();
    window_->raise();
    window_->activateWindow();
}

}  // namespace telvane::app
