#include "guardedtcpserver.h"

#include <QTcpSocket>
#include <QTimer>

GuardedTcpServer::GuardedTcpServer(const Limits& limits, QObject* parent)
    : QTcpServer(parent)
    , limits(limits)
{
}

GuardedTcpServer::~GuardedTcpServer()
{
    // The sockets go with this object; none of their last signals may reach it half destroyed.
    for (QTcpSocket* socket : connections.keys())
        QObject::disconnect(socket, nullptr, this, nullptr);
}

void GuardedTcpServer::incomingConnection(qintptr handle)
{
    auto* socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(handle)) {
        delete socket;
        return;
    }
    Connection connection;
    connection.address = socket->peerAddress();
    connection.timer = new QTimer(socket);
    connection.timer->setSingleShot(true);
    connections.insert(socket, connection);
    connect(connection.timer, &QTimer::timeout, this, [this, socket] { timedOut(socket); });
    // Connected before the HTTP layer connects its own reader, so this sees every chunk first.
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { received(socket); });
    connect(socket, &QTcpSocket::bytesWritten, this, [this, socket] {
        const auto found = connections.find(socket);
        if (found != connections.end())
            rearm(socket, *found);
    });
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] { forget(socket); });
    connect(socket, &QObject::destroyed, this, [this, socket] { forget(socket); });
    rearm(socket, connections[socket]);
    addPendingConnection(socket);
}

void GuardedTcpServer::received(QTcpSocket* socket)
{
    const auto found = connections.find(socket);
    if (found == connections.end())
        return;
    Connection& connection = *found;
    if (connection.refused) {
        socket->readAll();
        connection.timer->start(limits.requestTimeoutMs);
        return;
    }
    // The HTTP layer reads inside a transaction that it ends only once a request is whole, so the
    // socket would keep a second copy of every byte of a large body until then. What it read before
    // is parsed already: let the socket drop it (the HTTP layer starts a new transaction at once).
    if (socket->isTransactionStarted())
        socket->commitTransaction();
    const qint64 available = socket->bytesAvailable();
    if (available <= 0)
        return;
    connection.requestBytes += available;
    recount(socket, connection);
    if (connection.refused)
        return;
    if (connection.requestBytes > limits.maxRequestBytes) {
        refuse(socket, connection, 413);
        return;
    }
    rearm(socket, connection);
}

void GuardedTcpServer::requestReceived(QTcpSocket* socket)
{
    const auto found = connections.find(socket);
    if (found == connections.end())
        return;
    found->requestBytes = 0;
    ++found->waiting;
    recount(socket, *found);
    rearm(socket, *found);
}

void GuardedTcpServer::answerWritten(QTcpSocket* socket)
{
    const auto found = connections.find(socket);
    if (found == connections.end())
        return;
    found->waiting = qMax(0, found->waiting - 1);
    recount(socket, *found);
    rearm(socket, *found);
}

void GuardedTcpServer::recount(QTcpSocket* socket, Connection& connection)
{
    const bool busy = !connection.refused && (connection.requestBytes > 0 || connection.waiting > 0);
    if (busy == connection.counted)
        return;
    connection.counted = busy;
    if (!busy) {
        if (--perAddress[connection.address] <= 0)
            perAddress.remove(connection.address);
        return;
    }
    const int count = ++perAddress[connection.address];
    if (limits.maxPerAddress > 0 && count > limits.maxPerAddress)
        refuse(socket, connection, 503);
}

void GuardedTcpServer::rearm(QTcpSocket* socket, Connection& connection)
{
    if (connection.refused || connection.requestBytes > 0 || socket->bytesToWrite() > 0)
        connection.timer->start(limits.requestTimeoutMs);
    else if (connection.waiting > 0)
        connection.timer->stop();
    else
        connection.timer->start(limits.idleTimeoutMs);
}

void GuardedTcpServer::timedOut(QTcpSocket* socket)
{
    const auto found = connections.find(socket);
    if (found == connections.end())
        return;
    const bool idle = !found->refused && found->requestBytes == 0 && found->waiting == 0
        && socket->bytesToWrite() == 0;
    if (idle) {
        socket->disconnectFromHost();
        return;
    }
    if (!found->refused && found->requestBytes > 0)
        emit refused(QStringLiteral("timeout"));
    socket->abort();
}

void GuardedTcpServer::refuse(QTcpSocket* socket, Connection& connection, int status)
{
    connection.refused = true;
    recount(socket, connection);
    socket->readAll();
    emit refused(QString::number(status));
    // Written here: the HTTP layer never saw a whole request to answer.
    const QByteArray text = status == 413 ? "Request too large\n" : "Too many requests from this address\n";
    const QByteArray head = status == 413 ? "HTTP/1.1 413 Payload Too Large\r\n"
                                          : "HTTP/1.1 503 Service Unavailable\r\nRetry-After: 5\r\n";
    socket->write(head + "Content-Type: text/plain; charset=utf-8\r\nContent-Length: "
        + QByteArray::number(text.size()) + "\r\nConnection: close\r\n\r\n" + text);
    if (status == 413) {
        // The client reads the answer once it has sent its body; until then what it sends is
        // dropped, and the connection closes when it stops sending.
        connection.timer->start(limits.requestTimeoutMs);
        return;
    }
    socket->disconnectFromHost();
}

void GuardedTcpServer::forget(QTcpSocket* socket)
{
    const auto found = connections.find(socket);
    if (found == connections.end())
        return;
    if (found->counted && --perAddress[found->address] <= 0)
        perAddress.remove(found->address);
    connections.erase(found);
}
