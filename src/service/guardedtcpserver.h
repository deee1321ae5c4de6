#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QString>
#include <QStringList>
#include <QTcpServer>

class QTcpSocket;
class QTimer;

// The TCP side of the service: it sees every connection's bytes before the HTTP layer reads them,
// and keeps what one client may hold of the service within limits.
// - Size: a request larger than maxRequestBytes (headers and body) is answered 413 and everything
//   the connection sends afterwards is dropped (Qt HttpServer would hold any body in memory); a
//   request for a path other than largePaths may be no larger than maxFormBytes, which is told as
//   soon as its request line is read.
// - Concurrency: a connection counts against its client's address from the first byte of a request
//   until its answer is written; a request that would make more than maxPerAddress of them is
//   answered 503 with Retry-After and its connection closed (0: no limit).
// - Connections: at most maxConnections are open, at most maxConnectionsPerAddress of them from one
//   address (0: no limit). A new connection over either takes the place of the one idle longest
//   (of the address, or of all); when none is idle the new one is closed.
// - Time: a connection that sends nothing of a request under way, or takes none of its answer, for
//   requestTimeoutMs is closed, and so is one whose request is not whole requestTimeoutMs after its
//   first byte (plus the time its size takes at slowestUploadBytesPerSecond): a byte now and then
//   does not keep it; one that stays idle between requests for idleTimeoutMs is closed. While the
//   service prepares an answer the connection waits as long as that takes.
// - Stopping: stop() takes no new connections, closes the idle ones and each other one once its
//   answers are written; drained() tells when none is left.
class GuardedTcpServer : public QTcpServer {
    Q_OBJECT

public:
    struct Limits {
        qint64 maxRequestBytes = 256 * 1024 * 1024;
        qint64 maxFormBytes = 256 * 1024;
        QStringList largePaths;
        int maxPerAddress = 16;
        int maxConnections = 1000;
        int maxConnectionsPerAddress = 64;
        int requestTimeoutMs = 30000;
        int idleTimeoutMs = 60000;
    };
    static const qint64 slowestUploadBytesPerSecond = 16 * 1024;

    explicit GuardedTcpServer(const Limits& limits, QObject* parent = nullptr);
    ~GuardedTcpServer() override;

    // The HTTP layer has the whole request under way on socket; it now waits for its answer.
    void requestReceived(QTcpSocket* socket);
    // An answer of socket has been handed to it, all of it.
    void answerWritten(QTcpSocket* socket);

    // Stops listening and lets the open connections end as their requests are answered.
    void stop();
    bool isStopping() const { return stopping; }
    // Closes every connection whose answer the service is not preparing: those still sending a
    // request or taking an answer after the time a stop allows.
    void closeUnfinished();
    int connectionCount() const { return int(connections.size()); }

signals:
    // A request refused here, before the HTTP layer saw it whole: "413", "503" or "timeout".
    void refused(const QString& outcome);
    // After stop(): no connection is left.
    void drained();

protected:
    void incomingConnection(qintptr handle) override;

private:
    struct Connection {
        QHostAddress address;
        QTimer* timer = nullptr;
        // Bytes of the request under way (since the last whole one), when its first byte came, the
        // most it may have and the start of it as far as it tells its path.
        qint64 requestBytes = 0;
        qint64 requestStartedMs = 0;
        qint64 requestLimit = 0;
        QByteArray head;
        // Whole requests whose answers are not written yet.
        int waiting = 0;
        // When it last became idle, to close the longest idle first.
        qint64 idleSinceMs = 0;
        bool counted = false;
        bool refused = false;
    };

    void received(QTcpSocket* socket);
    // Reads the request line from the first bytes of a request and sets the size it may have.
    void readHead(QTcpSocket* socket, Connection& connection);
    // Counts the connection against its address, or stops counting it, as its state says.
    void recount(QTcpSocket* socket, Connection& connection);
    // Starts the time-out that fits what the connection is doing now.
    void rearm(QTcpSocket* socket, Connection& connection);
    void timedOut(QTcpSocket* socket);
    void refuse(QTcpSocket* socket, Connection& connection, int status);
    void forget(QTcpSocket* socket);
    bool isIdle(QTcpSocket* socket, const Connection& connection) const;
    // Closes the connection idle longest (of address, when given); false when none is idle.
    bool closeLongestIdle(const QHostAddress* address);

    Limits limits;
    QElapsedTimer clock;
    QHash<QTcpSocket*, Connection> connections;
    QHash<QHostAddress, int> perAddress;
    QHash<QHostAddress, int> connectionsPerAddress;
    bool stopping = false;
};
