#include "serviceserver.h"

#include <QCoreApplication>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>
#include <cstdio>
#include <memory>

#include "serviceconfig.h"
#include "servicestore.h"

namespace {

const char* const requestBytesProperty = "quorvaneRequestBytes";
const char* const refusedProperty = "quorvaneRefused";

// A TCP server that counts the bytes of the request under way on each connection before the HTTP
// layer reads them (Qt HttpServer has no limit of its own and would hold any body in memory). A
// connection over the limit is answered 413 and everything it sends afterwards is dropped.
class LimitedTcpServer : public QTcpServer {
public:
    LimitedTcpServer(qint64 maxRequestBytes, std::function<void()> onRefused, QObject* parent)
        : QTcpServer(parent)
        , maxRequestBytes(maxRequestBytes)
        , onRefused(std::move(onRefused))
    {
    }

protected:
    void incomingConnection(qintptr handle) override
    {
        auto* socket = new QTcpSocket(this);
        if (!socket->setSocketDescriptor(handle)) {
            delete socket;
            return;
        }
        // Connected before the HTTP layer connects its own reader, so this runs first for every chunk.
        connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
            if (socket->property(refusedProperty).toBool()) {
                socket->readAll();
                return;
            }
            const qint64 bytes = socket->property(requestBytesProperty).toLongLong() + socket->bytesAvailable();
            socket->setProperty(requestBytesProperty, bytes);
            if (bytes <= maxRequestBytes)
                return;
            socket->setProperty(refusedProperty, true);
            socket->readAll();
            onRefused();
            // Written by hand: the HTTP layer never saw a whole request to answer. The client reads it
            // once it has sent its body; the connection closes then, or after a while in any case.
            const QByteArray text = "Request too large\n";
            socket->write("HTTP/1.1 413 Payload Too Large\r\nContent-Type: text/plain\r\nContent-Length: "
                + QByteArray::number(text.size()) + "\r\nConnection: close\r\n\r\n" + text);
            QPointer<QTcpSocket> guard(socket);
            QTimer::singleShot(30000, socket, [guard] {
                if (guard)
                    guard->abort();
            });
        });
        addPendingConnection(socket);
    }

private:
    qint64 maxRequestBytes;
    std::function<void()> onRefused;
};

QByteArray json(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QByteArray errorObject(int code, const QString& message)
{
    return json({ { QStringLiteral("error"), code }, { QStringLiteral("message"), message } });
}

QString field(const ServiceServer::FormFields& fields, const char* name)
{
    for (const auto& pair : fields) {
        if (pair.first == QLatin1String(name))
            return pair.second;
    }
    return QString();
}

// A word of a shell command as a user can paste it: as it is when the shell takes it so, otherwise
// in single quotes.
QString shellWord(const QString& word)
{
    static const QRegularExpression plain(
        QStringLiteral("^[\\w./:@%+=,-]+$"), QRegularExpression::UseUnicodePropertiesOption);
    if (plain.match(word).hasMatch())
        return word;
    QString quoted = word;
    quoted.replace(QLatin1Char('\''), QLatin1String("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

const QByteArray jsonType = "application/json; charset=utf-8";
const QByteArray htmlType = "text/html; charset=utf-8";

// A decoded path with a control character (CR and LF that would end a header line, NUL, and the
// rest of C0, DEL and C1) names nothing here and must never reach a header or a page.
bool hasControlCharacter(const QString& path)
{
    for (const QChar c : path) {
        const char16_t u = c.unicode();
        if (u < 0x20 || (u >= 0x7f && u <= 0x9f))
            return true;
    }
    return false;
}

} // namespace

ServiceServer::ServiceServer(ServiceStore* store, QObject* parent)
    : QAbstractHttpServer(parent)
    , store(store)
{
}

ServiceServer::~ServiceServer() = default;

bool ServiceServer::start(const Options& serverOptions, QString* error)
{
    options = serverOptions;
    if (!options.requestLogPath.isEmpty()) {
        // The owner's alone, as the store: it holds account names, feedback addresses and records.
        const QFileDevice::Permissions ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
        requestLog.setFileName(options.requestLogPath);
        if (!requestLog.open(QIODevice::WriteOnly | QIODevice::Append, ownerOnly)
            || !requestLog.setPermissions(ownerOnly)) {
            *error = options.requestLogPath + QStringLiteral(": ") + requestLog.errorString();
            return false;
        }
    }
    auto* tcp = new LimitedTcpServer(
        options.maxRequestBytes, [this] { logTooLarge(); }, this);
    if (!tcp->listen(QHostAddress::LocalHost, options.port)) {
        *error = tcp->errorString();
        delete tcp;
        return false;
    }
    port = tcp->serverPort();
    bind(tcp);
    return true;
}

QString ServiceServer::baseUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1/").arg(port);
}

ServiceServer::FormFields ServiceServer::decodeForm(const QByteArray& body)
{
    FormFields fields;
    for (const QByteArray& pair : body.split('&')) {
        if (pair.isEmpty())
            continue;
        const qsizetype equals = pair.indexOf('=');
        QByteArray name = equals < 0 ? pair : pair.left(equals);
        QByteArray value = equals < 0 ? QByteArray() : pair.mid(equals + 1);
        // A form encoder writes a space as "+"; a plus sign arrives as %2B.
        name.replace('+', ' ');
        value.replace('+', ' ');
        fields.append({ QString::fromUtf8(QByteArray::fromPercentEncoding(name)),
            QString::fromUtf8(QByteArray::fromPercentEncoding(value)) });
    }
    return fields;
}

bool ServiceServer::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket)
{
    socket->setProperty(requestBytesProperty, 0);
    const QString path = request.url().path(QUrl::FullyDecoded).mid(1);
    if (hasControlCharacter(path)) {
        Reply refused;
        refused.status = 400;
        refused.body = "Bad request\n";
        log(request, path, {}, QStringLiteral("400"));
        write(request, socket, refused, 0);
        return true;
    }
    FormFields fields;
    if (request.method() == QHttpServerRequest::Method::Post)
        fields = decodeForm(request.body());
    const ServiceConfig config = ServiceConfig::load(options.configPath, baseUrl());
    const QJsonObject fault = config.faults.value(path).toObject();

    if (fault.value(QLatin1String("hang")).toBool()) {
        log(request, path, fields, QStringLiteral("hang"));
        return true;
    }
    if (fault.value(QLatin1String("close")).toBool()) {
        log(request, path, fields, QStringLiteral("close"));
        socket->disconnectFromHost();
        return true;
    }
    Reply reply = faultReply(fault);
    if (reply.status == 0)
        reply = route(request, path, fields, config);
    log(request, path, fields, QString::number(reply.status));
    write(request, socket, reply, fault.value(QLatin1String("delay")).toInt());
    return true;
}

void ServiceServer::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket)
{
    Reply reply;
    reply.status = 404;
    reply.body = "Not found\n";
    write(request, socket, reply, 0);
}

ServiceServer::Reply ServiceServer::faultReply(const QJsonObject& fault)
{
    Reply reply;
    reply.status = 0;
    if (fault.contains(QLatin1String("status"))) {
        reply.status = fault.value(QLatin1String("status")).toInt();
        reply.body = "Fault injected\n";
        // A redirection of the configuration's choosing, to another server say; never one from the
        // request.
        reply.location = QUrl(fault.value(QLatin1String("location")).toString()).toEncoded();
    } else if (fault.contains(QLatin1String("body"))) {
        reply.status = 200;
        reply.mimeType = htmlType;
        reply.body = fault.value(QLatin1String("body")).toString().toUtf8();
    } else if (fault.contains(QLatin1String("error"))) {
        reply.status = 200;
        reply.mimeType = jsonType;
        reply.body = errorObject(
            fault.value(QLatin1String("error")).toInt(), fault.value(QLatin1String("message")).toString());
    }
    return reply;
}

ServiceServer::Reply ServiceServer::route(
    const QHttpServerRequest& request, const QString& path, const FormFields& fields, const ServiceConfig& config)
{
    const bool get = request.method() == QHttpServerRequest::Method::Get;
    const bool post = request.method() == QHttpServerRequest::Method::Post;
    Reply reply;
    const auto needs = [&](bool method) {
        if (!method) {
            reply.status = 405;
            reply.body = "Method not allowed\n";
        }
        return method;
    };

    if (path == QLatin1String("sync/userid.php")) {
        if (!needs(post))
            return reply;
        const QString userId = store->authenticate(field(fields, "username"), field(fields, "password"));
        reply.mimeType = jsonType;
        reply.body = userId.isEmpty() ? errorObject(ServiceStore::BadCredentials, QStringLiteral("用户名或密码错误"))
                                      : json({ { QStringLiteral("id"), userId } });
    } else if (path == QLatin1String("sync/syncpc2.php")) {
        if (needs(post))
            reply = synchronise(fields);
    } else if (path == QLatin1String("client/pc.php")) {
        if (!needs(get))
            return reply;
        reply.mimeType = jsonType;
        reply.body = json(config.update);
        if (config.updateConfigured
            && !(config.update.contains(QLatin1String("sha256")) && config.update.contains(QLatin1String("signature"))))
            std::fprintf(stderr,
                "quorvane-service: warning: the configured update record has no \"sha256\" and \"signature\" of its "
                "file; served as it is, and the program offers no such release\n");
    } else if (path == QLatin1String("client/feedback.php")) {
        if (!needs(post))
            return reply;
        const QString content = field(fields, "content");
        const bool stored
            = !content.isEmpty() && store->addFeedback(field(fields, "email"), field(fields, "subject"), content);
        reply.body = stored ? "success" : "failed: no feedback stored";
    } else if (path == QLatin1String(ServiceConfig::installerPath)) {
        if (needs(get))
            reply = installer(config.installerSize, config.installerScript);
    } else if (path == QLatin1String(ServiceConfig::panPath)) {
        if (!needs(get))
            return reply;
        reply.mimeType = htmlType;
        reply.body = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Quorvane记账 网盘</title></head>"
                     "<body><p>Quorvane记账 安装程序</p><p><a href=\""
            + config.panLink.toHtmlEscaped().toUtf8() + "\">下载</a></p></body></html>\n";
    } else if (path.startsWith(QLatin1String("r301/")) || path.startsWith(QLatin1String("r302/"))) {
        // A chain of redirections: r302/r301/<path> goes to r301/<path>, then to <path>.
        if (!needs(get))
            return reply;
        reply.status = path.startsWith(QLatin1String("r301/")) ? 301 : 302;
        // The decoded path is encoded again for the header and escaped for the page.
        QUrl target(baseUrl());
        target.setPath(QLatin1Char('/') + path.mid(5), QUrl::DecodedMode);
        reply.location = target.toEncoded();
        reply.mimeType = htmlType;
        reply.body = "<html><body>Moved to <a href=\"" + QString::fromLatin1(reply.location).toHtmlEscaped().toUtf8()
            + "\">here</a>.</body></html>\n";
    } else if (path.isEmpty()) {
        if (!needs(get))
            return reply;
        reply.mimeType = htmlType;
        // The commands that add an account to the very file this service reads.
        const QString command = (shellWord(QCoreApplication::applicationFilePath()) + QStringLiteral(" --data ")
            + shellWord(store->path()) + QStringLiteral(" --add-user 用户名"))
                                    .toHtmlEscaped();
        reply.body = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Quorvane记账</title></head><body>"
                     "<h1>Quorvane记账 同步服务</h1><p>账号由服务的管理员创建：<code>"
            + command.toUtf8() + "</code>，然后按提示输入密码（输入时不显示）；脚本可从标准输入的第一行提供密码：<code>"
            + command.toUtf8()
            + " &lt; 密码文件</code>。"
              "请勿把密码写在命令行上：本机的其他用户都能看到。</p>"
              "<h2>同步的规则</h2><ul>"
              "<li>每条记录（账目、账户、分类、借款人、成员）都带有修改时间，精确到秒。同一条记录以修改时间较晚的"
              "为准，删除也算一次修改。</li>"
              "<li>两台设备（或同一台设备的两次修改）在同一秒内把同一条记录改成了不同的内容，修改时间相同：以后到达"
              "服务的那次上传为准。服务把它的修改时间往后推一秒再保存，并发给这个账号的每一台设备，包括上传它的"
              "那一台，所以每台设备同步后都保存同一个结果。</li>"
              "<li>每台设备还缺哪些记录，由服务自己记录的同步进度决定，不比较设备和服务的时钟，所以设备时钟不准"
              "或被调整过都不会漏掉别的设备的修改。服务无法判断时（第一次同步、换了账号的账本），会把账号的全部"
              "记录发给设备；设备只接受比自己更晚的修改，多发不会改坏数据。</li>"
              "</ul></body></html>\n";
    } else {
        reply.status = 404;
        reply.body = "Not found\n";
    }
    return reply;
}

ServiceServer::Reply ServiceServer::synchronise(const FormFields& fields)
{
    Reply reply;
    reply.mimeType = jsonType;
    qint64 account = 0;
    if (store->authenticate(field(fields, "username"), field(fields, "password"), &account).isEmpty()) {
        reply.body = errorObject(ServiceStore::BadCredentials, QStringLiteral("用户名或密码错误"));
        return reply;
    }
    ServiceStore::Failure failure;
    if (!store->synchronise(account, field(fields, "sync_time"), field(fields, "client_time"), field(fields, "data").toUtf8(),
            &reply.body, &failure))
        reply.body = errorObject(failure.code, failure.message);
    return reply;
}

ServiceServer::Reply ServiceServer::installer(qint64 size, const QString& script)
{
    // A script that runs the configured lines (none by default), padded with comment lines to the
    // configured size.
    if (installerBody.size() != size || installerBodyScript != script) {
        installerBodyScript = script;
        QByteArray body = "#!/bin/sh\n# Quorvane记账 installer stand-in\n" + script.toUtf8();
        if (!body.endsWith('\n'))
            body += '\n';
        body += "exit 0\n";
        const QByteArray line = '#' + QByteArray(78, '-') + '\n';
        body.reserve(size);
        while (body.size() + line.size() <= size)
            body += line;
        body += QByteArray(qMax<qint64>(0, size - body.size()), '\n');
        installerBody = body.left(size);
    }
    Reply reply;
    reply.mimeType = "application/octet-stream";
    reply.body = installerBody;
    return reply;
}

void ServiceServer::write(const QHttpServerRequest& request, QTcpSocket* socket, const Reply& reply, int delayMs)
{
    auto responder = std::make_shared<QHttpServerResponder>(makeResponder(request, socket));
    const auto send = [responder, reply] {
        responder->writeStatusLine(static_cast<QHttpServerResponder::StatusCode>(reply.status));
        responder->writeHeader("Content-Type", reply.mimeType);
        responder->writeHeader("Content-Length", QByteArray::number(reply.body.size()));
        if (!reply.location.isEmpty())
            responder->writeHeader("Location", reply.location);
        responder->writeBody(reply.body);
    };
    if (delayMs <= 0) {
        send();
        return;
    }
    QPointer<QTcpSocket> guard(socket);
    QTimer::singleShot(delayMs, this, [guard, send] {
        if (guard && guard->state() == QAbstractSocket::ConnectedState)
            send();
    });
}

void ServiceServer::log(
    const QHttpServerRequest& request, const QString& path, const FormFields& fields, const QString& outcome)
{
    if (!requestLog.isOpen())
        return;
    QJsonArray headers;
    for (const auto& header : request.headers())
        headers.append(QJsonArray { QString::fromLatin1(header.first), QString::fromUtf8(header.second) });
    QJsonArray form;
    for (const auto& pair : fields) {
        // Passwords never reach the log; a large change set appears as its size.
        QString value = pair.second;
        if (pair.first == QLatin1String("password"))
            value = QStringLiteral("***");
        else if (value.size() > 65536)
            value = QStringLiteral("[%1 characters]").arg(value.size());
        form.append(QJsonArray { pair.first, value });
    }
    const QString method = request.method() == QHttpServerRequest::Method::Post ? QStringLiteral("POST")
        : request.method() == QHttpServerRequest::Method::Get                   ? QStringLiteral("GET")
                                                                                : QStringLiteral("OTHER");
    requestLog.write(json({ { QStringLiteral("method"), method }, { QStringLiteral("path"), path },
                         { QStringLiteral("headers"), headers }, { QStringLiteral("fields"), form },
                         { QStringLiteral("outcome"), outcome } })
        + '\n');
    requestLog.flush();
}

void ServiceServer::logTooLarge()
{
    if (!requestLog.isOpen())
        return;
    requestLog.write(json({ { QStringLiteral("outcome"), QStringLiteral("413") } }) + '\n');
    requestLog.flush();
}
