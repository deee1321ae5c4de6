#pragma once

#include <QAbstractHttpServer>
#include <QByteArray>
#include <QFile>
#include <QList>
#include <QPair>
#include <QString>

class QJsonObject;
class ServiceStore;
struct ServiceConfig;

// The service's HTTP side on Qt HttpServer: the synchronisation endpoints, the update record, the
// feedback form, the installer download with its cloud-disk page and redirections, plus what tests
// need of a real service: a request log and faults per path. Handlers run on the main thread.
//
// A fault (ServiceConfig "faults") is an object with one of
//   {"hang": true}                 never answer (the connection stays open),
//   {"close": true}                close the connection without an answer,
//   {"status": 500}                answer with that HTTP status (with "location": "http://…",
//                                  a redirection there),
//   {"body": "<html>…"}            answer 200 with that text instead of the endpoint's own,
//   {"error": 7, "message": "m"}   answer 200 with that JSON error object,
// and optionally {"delay": ms}: the answer is sent that much later.
class ServiceServer : public QAbstractHttpServer {
    Q_OBJECT

public:
    struct Options {
        quint16 port = 8098;
        // Requests larger than this (headers and body) are answered 413 and their bytes dropped.
        qint64 maxRequestBytes = 256 * 1024 * 1024;
        QString configPath;
        // One JSON line per request: method, path, headers in the order they arrived, form fields
        // (passwords masked, values over 64 KiB as their size) and the outcome. Empty: no log.
        QString requestLogPath;
    };

    explicit ServiceServer(ServiceStore* store, QObject* parent = nullptr);
    ~ServiceServer() override;

    // Listens on 127.0.0.1 (port 0: a free port); false with the reason when it cannot.
    bool start(const Options& options, QString* error);
    // "http://127.0.0.1:<port>/".
    QString baseUrl() const;

    using FormFields = QList<QPair<QString, QString>>;
    // The fields of an application/x-www-form-urlencoded body, in order.
    static FormFields decodeForm(const QByteArray& body);

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    struct Reply {
        int status = 200;
        QByteArray mimeType = "text/plain; charset=utf-8";
        QByteArray body;
        QByteArray location;
    };

    Reply route(
        const QHttpServerRequest& request, const QString& path, const FormFields& fields, const ServiceConfig& config);
    Reply synchronise(const FormFields& fields);
    Reply installer(qint64 size, const QString& script);
    static Reply faultReply(const QJsonObject& fault);
    void log(const QHttpServerRequest& request, const QString& path, const FormFields& fields, const QString& outcome);
    void logTooLarge();
    void write(const QHttpServerRequest& request, QTcpSocket* socket, const Reply& reply, int delayMs);

    ServiceStore* store;
    Options options;
    quint16 port = 0;
    QFile requestLog;
    QByteArray installerBody;
    QString installerBodyScript;
};
