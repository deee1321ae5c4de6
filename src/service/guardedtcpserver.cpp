#include "guardedtcpserver.h"

#include <QPointer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

namespace {

// More of a request than its request line needs is never looked at here.
const qsizetype maxRequestLineBytes = 8192;

// How much of a refused request's rest is read from the system at a time.
const qint64 refusedReadBytes = 64 * 1024;

} // namespace

GuardedTcpServer::GuardedTcpServer(const Limits& limits, QObject* parent)
    : QTcpServer(parent)
    , limits(limits)
{
    clock.start();
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
    if (!socket->setSocketDescriptor(handle) || stopping) {
        delete socket;
        return;
    }
    const QHostAddress address = socket->peerAddress();
    // A new connection over a limit takes the place of one that only waits; when every one is busy
    // it is the new one that goes.
    const bool addressFull = limits.maxConnectionsPerAddress > 0
        && connectionsPerAddress.value(address) >= limits.maxConnectionsPerAddress;
    if (addressFull && !closeLongestIdle(&address)) {
        delete socket;
        return;
    }
    if (limits.maxConnections > 0 && connections.size() >= limits.maxConnections && !closeLongestIdle(nullptr)) {
        delete socket;
        return;
    }
    Connection connection;
    connection.address = address;
    connection.timer = new QTimer(socket);
    connection.timer->setSingleShot(true);
    connection.idleSinceMs = clock.elapsed();
    connections.insert(socket, connection);
    ++connectionsPerAddress[address];
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

bool GuardedTcpServer::closeLongestIdle(const QHostAddress* address)
{
    QTcpSocket* longest = nullptr;
    qint64 since = 0;
    for (auto it = connections.cbegin(); it != connections.cend(); ++it) {
        if ((address && it->address != *address) || !isIdle(it.key(), *it))
            continue;
        if (!longest || it->idleSinceMs < since) {
            longest = it.key();
            since = it->idleSinceMs;
        }
    }
    if (!longest)
        return false;
    // Forgotten at once, so that the count is right for the connection that takes its place.
    forget(longest);
    longest->abort();
    return true;
}

bool GuardedTcpServer::isIdle(QTcpSocket* socket, const Connection& connection) const
{
    return !connection.refused && connection.requestBytes == 0 && connection.waiting == 0
        && socket->bytesToWrite() == 0;
}

void GuardedTcpServer::received(QTcpSocket* socket)
{
    const auto found = connections.find(socket);
    if (found == connections.end())
        return;
    Connection& connection = *found;
    // The HTTP layer reads inside a transaction that it ends only once a request is whole, so the
    // socket would keep a second copy of every byte of a large body until then. What it read before
    // is parsed already: let the socket drop it (the HTTP layer starts a new transaction at once).
    if (socket->isTransactionStarted())
        socket->commitTransaction();
    if (connection.refused) {
        socket->readAll();
        connection.timer->start(limits.requestTimeoutMs);
        return;
    }
    const qint64 available = socket->bytesAvailable();
    if (available <= 0)
        return;
    if (connection.requestBytes == 0) {
        connection.requestStartedMs = clock.elapsed();
        connection.requestLimit = limits.maxRequestBytes;
        connection.head.clear();
    }
    connection.requestBytes += available;
    if (connection.head.size() < maxRequestLineBytes && !connection.head.contains('\n'))
        readHead(socket, connection);
    recount(socket, connection);
    if (connection.refused)
        return;
    if (connection.requestBytes > connection.requestLimit) {
        refuse(socket, connection, 413);
        return;
    }
    rearm(socket, connection);
}

void GuardedTcpServer::readHead(QTcpSocket* socket, Connection& connection)
{
    connection.head += socket->peek(maxRequestLineBytes - connection.head.size());
    const qsizetype end = connection.head.indexOf('\n');
    if (end < 0)
        return;
    // "METHOD TARGET VERSION": a request line that names a path outside the large ones gets the
    // smaller limit. Bytes that are no request line (the rest of a body sent after its request was
    // taken whole, say) keep the larger one.
    const QList<QByteArray> words = connection.head.left(end).trimmed().split(' ');
    if (words.size() != 3 || !words.at(1).startsWith('/') || !words.at(2).startsWith("HTTP/"))
        return;
    const QString path = QUrl::fromEncoded(words.at(1)).path(QUrl::FullyDecoded).mid(1);
    if (!limits.largePaths.contains(path))
        connection.requestLimit = qMin(limits.maxRequestBytes, limits.maxFormBytes);
}

void GuardedTcpServer::requestReceived(QTcpSocket* socket)
{
    const auto found = connections.find(socket);
    if (found == connections.end())
        return;
    found->requestBytes = 0;
    found->head.clear();
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
    if (connection.refused || socket->bytesToWrite() > 0) {
        connection.timer->start(limits.requestTimeoutMs);
    } else if (connection.requestBytes > 0) {
        // Progress within the time-out, and the whole request within its own.
        const qint64 deadline = connection.requestStartedMs + limits.requestTimeoutMs
            + connection.requestBytes * 1000 / slowestUploadBytesPerSecond;
        const qint64 left = qMax<qint64>(0, deadline - clock.elapsed());
        connection.timer->start(int(qMin<qint64>(limits.requestTimeoutMs, left)));
    } else if (connection.waiting > 0) {
        connection.timer->stop();
    } else if (stopping) {
        // Its answers are written: a stopping service lets it go (once what it wrote is sent).
        connection.timer->start(limits.requestTimeoutMs);
        socket->disconnectFromHost();
    } else {
        connection.idleSinceMs = clock.elapsed();
        connection.timer->start(limits.idleTimeoutMs);
    }
}

void GuardedTcpServer::timedOut(QTcpSocket* socket)
{
    const auto found = connections.find(socket);
    if (found == connections.end())
        return;
    if (isIdle(socket, *found)) {
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
    // Dropped for good: outside the HTTP layer's transaction, which would keep it.
    if (socket->isTransactionStarted())
        socket->commitTransaction();
    socket->readAll();
    // What follows is only dropped: taken from the system in small pieces, so that a slow event
    // loop never holds megabytes of it at once.
    socket->setReadBufferSize(refusedReadBytes);
    emit refused(QString::number(status));
    // Written here: the HTTP layer never saw a whole request to answer.
    const QByteArray text = status == 413 ? "Request too large\n" : "Too many requests from this address\n";
    const QByteArray head = status == 413 ? "HTTP/1.1 413 Payload Too Large\r\n"
                                          : "HTTP/1.1 503 Service Unavailable\r\nRetry-After: 5\r\n";
    socket->write(head + "Content-Type: text/plain; charset=utf-8\r\nContent-Length: " + QByteArray::number(text.size())
        + "\r\nConnection: close\r\n\r\n" + text);
    if (status == 413) {
        // The client reads the answer once it has sent its body; until then what it sends is
        // dropped, and the connection closes when it stops sending.
        connection.timer->start(limits.requestTimeoutMs);
        return;
    }
    socket->disconnectFromHost();
}

void GuardedTcpServer::stop()
{
    if (stopping)
        return;
    // Connections the system has accepted already are clients that reached the service: they are
    // taken (and served) before the listening socket goes, which would reset them.
    for (int taken = 0; taken < limits.maxConnections && waitForNewConnection(0); ++taken) { }
    stopping = true;
    close();
    // What has arrived on a connection is read first: a request whose bytes wait in the system is
    // under way, and its connection is not idle.
    QList<QPointer<QTcpSocket>> open;
    for (auto it = connections.cbegin(); it != connections.cend(); ++it)
        open << it.key();
    for (const QPointer<QTcpSocket>& socket : std::as_const(open)) {
        if (socket && connections.contains(socket))
            socket->waitForReadyRead(0);
    }
    for (const QPointer<QTcpSocket>& socket : std::as_const(open)) {
        const auto found = socket ? connections.constFind(socket) : connections.constEnd();
        if (found != connections.constEnd() && isIdle(socket, *found))
            socket->disconnectFromHost();
    }
    if (connections.isEmpty())
        QMetaObject::invokeMethod(this, &GuardedTcpServer::drained, Qt::QueuedConnection);
}

void GuardedTcpServer::closeUnfinished()
{
    QList<QTcpSocket*> unfinished;
    for (auto it = connections.cbegin(); it != connections.cend(); ++it) {
        if (it->waiting == 0)
            unfinished << it.key();
    }
    for (QTcpSocket* socket : std::as_const(unfinished))
        socket->abort();
}

void GuardedTcpServer::forget(QTcpSocket* socket)
{
    const auto found = connections.find(socket);
    if (found == connections.end())
        return;
    if (found->counted && --perAddress[found->address] <= 0)
        perAddress.remove(found->address);
    if (--connectionsPerAddress[found->address] <= 0)
        connectionsPerAddress.remove(found->address);
    connections.erase(found);
    if (stopping && connections.isEmpty())
        QMetaObject::invokeMethod(this, &GuardedTcpServer::drained, Qt::QueuedConnection);
}
