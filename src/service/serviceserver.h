#pragma once

#include <QAbstractHttpServer>
#include <QHttpServerRequest>
#include <QByteArray>
#include <QFile>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QThreadPool>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "attemptlimiter.h"
#include "passwordcache.h"

class GuardedTcpServer;
class QTcpSocket;
class ServiceStore;
struct ServiceConfig;

// The service's HTTP side on Qt HttpServer: the synchronisation endpoints, the update record, the
// feedback form, the installer download with its cloud-disk page, the health check and the home page,
// each a row of the route table, plus a request log.
//
// Sockets, the request log and the config file are the main thread's. What needs the store (the
// synchronisation endpoints, feedback, the health check) runs on a pool of workers, and the answer
// comes back to the main thread to be written; a connection's answers are written in the order of
// its requests. The synchronisation requests of one account are merged one after the other in the
// order they arrived; the password is checked first, on any worker, and only then is the change set
// decoded.
class ServiceServer : public QAbstractHttpServer {
    Q_OBJECT

public:
    struct Options {
        quint16 port = 8098;
        // Requests larger than this (headers and body) are answered 413 and their bytes dropped;
        // those of every path but the synchronisation's upload may be no larger than maxFormBytes.
        qint64 maxRequestBytes = 256 * 1024 * 1024;
        qint64 maxFormBytes = 256 * 1024;
        QString configPath;
        // One JSON line per request: its number in the order requests arrived, method, path,
        // headers in the order they arrived, form fields (passwords masked, values over 64 KiB as
        // their size) and the outcome. Empty: no log.
        QString requestLogPath;
        // Threads that serve the requests that need the store.
        int workers = 2;
        // Requests under way at once from one address (0: no limit), and the time-outs of a
        // connection that stalls during a request and of one left idle.
        int maxPerAddress = 16;
        // Connections open at once, in all and from one address (0: no limit).
        int maxConnections = 1000;
        int maxConnectionsPerAddress = 64;
        int requestTimeoutMs = 30000;
        int idleTimeoutMs = 60000;
        // How long a verified password is remembered (0: never).
        int passwordCacheSeconds = 300;
        // Wrong passwords within a minute from one address, or for one account name, after which
        // that address's sign-ins are refused without being checked until the minute is over (0: no
        // limit); feedback forms an hour from one address (0: no limit).
        int signInFailures = 10;
        int feedbackPerHour = 20;
        // The reverse proxy whose X-Forwarded-For names the client (null: none is trusted).
        QHostAddress trustedProxy;
        // How the home page names the store in the command that adds an account, e.g.
        // {"--data", "/path/service.db"}.
        QStringList storeArguments;
    };

    struct Reply {
        int status = 200;
        QByteArray mimeType = "text/plain; charset=utf-8";
        QByteArray body;
        QByteArray location;
    };

    // What becomes of a request before the route table sees it. The shipped service sets no
    // interceptor; a test build puts one in front to make the service misbehave on purpose.
    struct Interception {
        enum class Action {
            Route, // routed as usual
            Answer, // answered with reply
            Hold, // never answered; the connection stays open and its later requests wait behind it
            Close, // the connection closed without an answer
        };
        Action action = Action::Route;
        Reply reply;
        // The answer, the route's or reply, is written this much later.
        int writeAfterMs = 0;
        // What the request log says of a request held or closed.
        QString outcome;
    };
    using Interceptor = std::function<Interception(const QString& path)>;

    explicit ServiceServer(ServiceStore* store, QObject* parent = nullptr);
    ~ServiceServer() override;

    // Listens on 127.0.0.1 (port 0: a free port); false with the reason when it cannot.
    bool start(const Options& options, QString* error);
    // "http://127.0.0.1:<port>/".
    QString baseUrl() const;

    // Takes no new connections, answers the requests received, then emits stopped(). Connections
    // still sending a request after the request time-out are closed.
    void stop();

    // Set before start().
    void setInterceptor(Interceptor interceptor);
    // Answers GET requests of every path under prefix (which ends in '/') on the main thread; a row
    // added to the route table, for a build that needs more than the service's own paths.
    void addGetRoute(const QString& prefix, std::function<Reply(const QString& path)> answer);

signals:
    void stopped();

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    struct Job;
    using JobPtr = std::shared_ptr<Job>;
    // A path (or with prefix, every path that starts with it), the method it takes and what answers
    // it: on the main thread, or by handing the job to a worker.
    struct Route {
        QString path;
        bool prefix = false;
        QHttpServerRequest::Method method;
        std::function<void(const JobPtr&, const ServiceConfig&)> handle;
    };

    void route(const JobPtr& job, QHttpServerRequest::Method method, const ServiceConfig& config);
    // The handlers of the route table.
    void signIn(const JobPtr& job);
    void feedback(const JobPtr& job);
    void health(const JobPtr& job);
    void updateRecord(const JobPtr& job, const ServiceConfig& config);
    Reply installer(qint64 size, const QString& script);
    Reply homePage(bool local) const;

    // Runs work on a worker; its reply comes back to finish() on the main thread.
    void runOnWorker(const JobPtr& job, std::function<Reply()> work);
    // The job's answer is ready: written once the answers before it on its connection are.
    void finish(const JobPtr& job, Reply reply);
    // Answers with an HTTP error status and a line of text.
    void refuse(const JobPtr& job, int status, const QByteArray& text);
    void flush(QTcpSocket* socket);
    void write(const JobPtr& job);

    // The synchronisation of an account: the password checked on a worker, then the merge once the
    // account's earlier requests are done.
    void startSynchronisation(const JobPtr& job);
    void authenticated(const JobPtr& job, bool ok, qint64 account, const QByteArray& refusal);
    void nextOfAccount(const QString& name);
    // The account that the form's user name and password name, from the cache or the store (on a
    // worker); false with *refusal, the JSON error to answer, when they do not match an account or
    // the store cannot be read.
    bool verify(const QByteArray& body, qint64* account, QString* userId, QByteArray* refusal);

    // The sign-in of job's account name is refused at once: its address, or the name from an
    // address that already failed, sent too many wrong passwords this minute.
    bool signInRefused(const JobPtr& job);
    // When the sign-in is refused so, answers job at once as a wrong password, unhashed, and says so.
    bool answeredAsWrongPassword(const JobPtr& job);
    void countFailure(const JobPtr& job);
    void stopWhenDone();

    void log(const JobPtr& job, const QString& outcome);
    void logRefused(const QString& outcome);

    ServiceStore* store;
    Options options;
    quint16 port = 0;
    GuardedTcpServer* tcp = nullptr;
    QFile requestLog;
    QByteArray installerBody;
    QString installerBodyScript;
    std::unique_ptr<PasswordCache> passwords;
    std::vector<Route> routes;
    Interceptor interceptor;
    quint64 arrivals = 0;
    // Requests not answered yet, of every connection (also those gone).
    int pending = 0;
    bool stopping = false;
    AttemptLimiter failuresByAddress { 60 * 1000, 50000 };
    AttemptLimiter failuresByName { 60 * 1000, 50000 };
    AttemptLimiter feedbackByAddress { 60 * 60 * 1000, 50000 };
    // Each connection's requests that are not answered yet, in order.
    QHash<QTcpSocket*, std::deque<JobPtr>> unanswered;
    // Each account name's synchronisation requests, in the order they arrived; the first is merged.
    QHash<QString, std::deque<JobPtr>> accountQueues;
    // Last: waited for before anything the workers use goes away.
    QThreadPool workers;
};
