// Single-instance guard over QLocalServer.
#include "shell/singleinstance.h"

#include <QCryptographicHash>
#include <QLocalServer>
#include <QLocalSocket>
#include <QWidget>

#include <unistd.h>

namespace telvane {

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
            m_previous = true;
            return;
        }
    }
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(name)) {
        // A socket left by a crashed instance: nobody answered above, so it is stale.
        QLocalServer::removeServer(name);
        m_server->listen(name);
    }
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* s = m_server->nextPendingConnection()) {
            connect(s, &QLocalSocket::disconnected, s, &QObject::deleteLater);
            raiseWindow();
        }
    });
}

SingleInstanceGuard::~SingleInstanceGuard() = default;

void SingleInstanceGuard::raiseWindow() {
    if (!m_window) return;
    if (m_window->isMinimized())
        m_window->showNormal();
    else
        m_window->show();
    m_window->raise();
    m_window->activateWindow();
}

}  // namespace telvane
