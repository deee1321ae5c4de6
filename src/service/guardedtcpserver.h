#pragma once

#include <QHash>
#include <QHostAddress>
#include <QString>
#include <QTcpServer>

class QTcpSocket;
class QTimer;

// The TCP side of the service: it sees every connection's bytes before the HTTP layer reads them,
// and keeps what one client may hold of the service within limits.
// - Size: a request larger than maxRequestBytes (headers and body) is answered 413 and everything
//   the connection sends afterwards is dropped (Qt HttpServer would hold any body in memory).
// - Concurrency: a connection counts against its client's address from the first byte of a request
//   until its answer is written; a request that would make more than maxPerAddress of them is
//   answered 503 with Retry-After and its connection closed (0: no limit).
// - Time: a connection that sends nothing of a request under way, or takes none of its answer, for
//   requestTimeoutMs is closed; one that stays idle between requests for idleTimeoutMs is closed.
//   While the service prepares an answer the connection waits as long as that takes.
class GuardedTcpServer : public QTcpServer {
    Q_OBJECT

public:
    struct Limits {
        qint64 maxRequestBytes = 256 * 1024 * 1024;
        int maxPerAddress = 16;
        int requestTimeoutMs = 30000;
        int idleTimeoutMs = 60000;
    };

    explicit GuardedTcpServer(const Limits& limits, QObject* parent = nullptr);
    ~GuardedTcpServer() override;

    // The HTTP layer has the whole request under way on socket; it now waits for its answer.
    void requestReceived(QTcpSocket* socket);
    // An answer of socket has been handed to it, all of it.
    void answerWritten(QTcpSocket* socket);

signals:
    // A request refused here, before the HTTP layer saw it whole: "413", "503" or "timeout".
    void refused(const QString& outcome);

protected:
    void incomingConnection(qintptr handle) override;

private:
    struct Connection {
        QHostAddress address;
        QTimer* timer = nullptr;
        // Bytes of the request under way (since the last whole one).
        qint64 requestBytes = 0;
        // Whole requests whose answers are not written yet.
        int waiting = 0;
        bool counted = false;
        bool refused = false;
    };

    void received(QTcpSocket* socket);
    // Counts the connection against its address, or stops counting it, as its state says.
    void recount(QTcpSocket* socket, Connection& connection);
    // Starts the time-out that fits what the connection is doing now.
    void rearm(QTcpSocket* socket, Connection& connection);
    void timedOut(QTcpSocket* socket);
    void refuse(QTcpSocket* socket, Connection& connection, int status);
    void forget(QTcpSocket* socket);

    Limits limits;
    QHash<QTcpSocket*, Connection> connections;
    QHash<QHostAddress, int> perAddress;
};
