#include "serviceserver.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QPointer>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <cstdio>
#include <utility>

#include "engine/servicepaths.h"
#include "formbody.h"
#include "guardedtcpserver.h"
#include "serviceconfig.h"
#include "servicestore.h"

// A request, from its arrival until its answer is written.
struct ServiceServer::Job {
    // Its place in the order requests arrived.
    quint64 number = 0;
    QPointer<QTcpSocket> socket;
    // The client's address (named by the trusted proxy when it came through one), and whether it is
    // this computer itself, not through a proxy.
    QHostAddress address;
    bool local = false;
    std::shared_ptr<QHttpServerResponder> responder;
    QString path;
    // The form, until the work that needs it has taken what it needs.
    QByteArray body;
    // What the request log says of it, gathered as it arrived.
    QJsonObject logEntry;

    // A sign-in or synchronisation request: the account name it is for (and queued under), and how
    // far it is.
    enum class Stage { Checking, Ready, Merging };
    QString accountName;
    Stage stage = Stage::Checking;
    qint64 account = 0;

    bool done = false;
    // Never answered (an interceptor held it): a stop does not wait for it.
    bool held = false;
    Reply reply;
    int writeAfterMs = 0;
};

namespace {

// No account name, password or time of a request is longer, encoded; longer ones are not decoded.
const qsizetype maxCredentialBytes = 4096;
const qsizetype maxTimeBytes = 256;
// How long the runs of an account are kept one by one.
const int runsKeptDays = 30;

QByteArray json(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QByteArray errorObject(int code, const QString& message)
{
    return json({ { QStringLiteral("error"), code }, { QStringLiteral("message"), message } });
}

QByteArray badCredentials()
{
    return errorObject(ServiceStore::BadCredentials, QStringLiteral("用户名或密码错误"));
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

// The answer to a feedback form from an address that has sent its share of the hour.
QByteArray tooManyFeedbacks()
{
    return "Too many feedback forms from this address; try again later\n";
}

const QByteArray jsonType = "application/json; charset=utf-8";
const QByteArray htmlType = "text/html; charset=utf-8";

// A decoded path or account name with a control character (CR and LF that would end a header line,
// NUL, and the rest of C0, DEL and C1) names nothing here and must never reach a header, a page or
// the store.
bool hasControlCharacter(const QString& path)
{
    for (const QChar c : path) {
        const char16_t u = c.unicode();
        if (u < 0x20 || (u >= 0x7f && u <= 0x9f))
            return true;
    }
    return false;
}

// The cloud-disk page: the one link the update dialog searches for.
ServiceServer::Reply panPage(const QString& link)
{
    ServiceServer::Reply reply;
    reply.mimeType = htmlType;
    reply.body = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Quorvane记账 网盘</title></head>"
                 "<body><p>Quorvane记账 安装程序</p><p><a href=\""
        + link.toHtmlEscaped().toUtf8() + "\">下载</a></p></body></html>\n";
    return reply;
}

QString methodName(QHttpServerRequest::Method method)
{
    switch (method) {
    case QHttpServerRequest::Method::Get:
        return QStringLiteral("GET");
    case QHttpServerRequest::Method::Post:
        return QStringLiteral("POST");
    default:
        return QStringLiteral("OTHER");
    }
}

} // namespace

ServiceServer::ServiceServer(ServiceStore* store, QObject* parent)
    : QAbstractHttpServer(parent)
    , store(store)
{
    using Method = QHttpServerRequest::Method;
    const Method get = Method::Get;
    const Method post = Method::Post;
    routes = {
        { ServicePaths::UserId, false, post, [this](const JobPtr& job, const ServiceConfig&) { signIn(job); } },
        { ServicePaths::Sync, false, post,
            [this](const JobPtr& job, const ServiceConfig&) { startSynchronisation(job); } },
        { ServicePaths::Feedback, false, post, [this](const JobPtr& job, const ServiceConfig&) { feedback(job); } },
        { QLatin1String(ServiceConfig::healthPath), false, get,
            [this](const JobPtr& job, const ServiceConfig&) { health(job); } },
        { ServicePaths::Version, false, get,
            [this](const JobPtr& job, const ServiceConfig& config) { updateRecord(job, config); } },
        { QLatin1String(ServiceConfig::installerPath), false, get,
            [this](const JobPtr& job, const ServiceConfig& config) {
                finish(job, installer(config.installerSize, config.installerScript));
            } },
        { QLatin1String(ServiceConfig::panPath), false, get,
            [this](const JobPtr& job, const ServiceConfig& config) { finish(job, panPage(config.panLink)); } },
        { QString(), false, get,
            [this](const JobPtr& job, const ServiceConfig&) { finish(job, homePage(job->local)); } },
    };
}

ServiceServer::~ServiceServer()
{
    // Workers use the store, the password cache and this object to hand back their answers.
    workers.waitForDone();
}

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
    passwords = std::make_unique<PasswordCache>(options.passwordCacheSeconds, 10000);
    // Runs older than a month are folded into one per account, now and then, on a worker.
    auto* forgetting = new QTimer(this);
    const auto forget = [this] {
        workers.start([this] { store->forgetRunsBefore(QDateTime::currentDateTimeUtc().addDays(-runsKeptDays)); });
    };
    connect(forgetting, &QTimer::timeout, this, forget);
    forgetting->start(60 * 60 * 1000);
    QTimer::singleShot(60 * 1000, this, forget);
    workers.setMaxThreadCount(qMax(1, options.workers));
    // Threads stay, and with them their database connections.
    workers.setExpiryTimeout(-1);

    GuardedTcpServer::Limits limits;
    limits.maxRequestBytes = options.maxRequestBytes;
    limits.maxFormBytes = options.maxFormBytes;
    limits.largePaths = QStringList { ServicePaths::Sync };
    limits.maxConnections = options.maxConnections;
    limits.maxConnectionsPerAddress = options.maxConnectionsPerAddress;
    limits.maxPerAddress = options.maxPerAddress;
    limits.requestTimeoutMs = options.requestTimeoutMs;
    limits.idleTimeoutMs = options.idleTimeoutMs;
    tcp = new GuardedTcpServer(limits, this);
    connect(tcp, &GuardedTcpServer::refused, this, &ServiceServer::logRefused);
    if (!tcp->listen(QHostAddress::LocalHost, options.port)) {
        *error = tcp->errorString();
        delete tcp;
        tcp = nullptr;
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

bool ServiceServer::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket)
{
    tcp->requestReceived(socket);
    auto job = std::make_shared<Job>();
    job->number = ++arrivals;
    job->socket = socket;
    ++pending;
    // Behind a proxy the connection is the proxy's; the address it adds last to X-Forwarded-For is
    // the one its client came from (what a client wrote there itself comes before).
    job->address = socket->peerAddress();
    QByteArray forwarded;
    for (const auto& header : request.headers()) {
        if (header.first.compare("X-Forwarded-For", Qt::CaseInsensitive) == 0)
            forwarded += (forwarded.isEmpty() ? "" : ",") + header.second;
    }
    if (!options.trustedProxy.isNull() && job->address.isEqual(options.trustedProxy) && !forwarded.isEmpty()) {
        const QHostAddress client(QString::fromLatin1(forwarded.split(',').constLast().trimmed()));
        if (!client.isNull())
            job->address = client;
        job->local = false;
    } else {
        job->local
            = (job->address.isEqual(QHostAddress::LocalHost) || job->address.isEqual(QHostAddress::LocalHostIPv6))
            && forwarded.isEmpty();
    }
    // Made now: the answer may be written long after this returns, from the same request object,
    // which lives as long as its connection.
    job->responder = std::make_shared<QHttpServerResponder>(makeResponder(request, socket));
    job->path = request.url().path(QUrl::FullyDecoded).mid(1);
    if (!unanswered.contains(socket))
        connect(socket, &QObject::destroyed, this, [this, socket] { unanswered.remove(socket); });
    unanswered[socket].push_back(job);

    const bool post = request.method() == QHttpServerRequest::Method::Post;
    if (post)
        job->body = request.body();
    if (requestLog.isOpen()) {
        QJsonArray headers;
        for (const auto& header : request.headers())
            headers.append(QJsonArray { QString::fromLatin1(header.first), QString::fromUtf8(header.second) });
        QJsonArray form;
        const bool refusedPath = hasControlCharacter(job->path);
        if (post && !refusedPath) {
            // Passwords never reach the log; a large change set appears as its size, undecoded.
            for (const auto& [name, value] : FormBody::forLog(job->body, 65536, 64))
                form.append(QJsonArray { name, name == QLatin1String("password") ? QStringLiteral("***") : value });
        }
        job->logEntry = QJsonObject { { QStringLiteral("received"), qint64(job->number) },
            { QStringLiteral("address"), job->address.toString() },
            { QStringLiteral("method"), methodName(request.method()) }, { QStringLiteral("path"), job->path },
            { QStringLiteral("headers"), headers }, { QStringLiteral("fields"), form } };
    }

    if (hasControlCharacter(job->path)) {
        refuse(job, 400, "Bad request\n");
        return true;
    }
    if (interceptor) {
        Interception interception = interceptor(job->path);
        switch (interception.action) {
        case Interception::Action::Hold:
            // The connection's later requests wait behind it, as a client expects.
            log(job, interception.outcome);
            job->body = QByteArray();
            job->held = true;
            --pending;
            return true;
        case Interception::Action::Close:
            log(job, interception.outcome);
            --pending;
            unanswered[socket].clear();
            socket->disconnectFromHost();
            return true;
        case Interception::Action::Answer:
            job->writeAfterMs = interception.writeAfterMs;
            job->body = QByteArray();
            finish(job, std::move(interception.reply));
            return true;
        case Interception::Action::Route:
            job->writeAfterMs = interception.writeAfterMs;
            break;
        }
    }
    route(job, request.method(), ServiceConfig::load(options.configPath, baseUrl()));
    return true;
}

void ServiceServer::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket)
{
    // Not reached (every request is handled above), but answered all the same.
    QHttpServerResponder responder = makeResponder(request, socket);
    responder.write(
        QByteArray("Not found\n"), QByteArray("text/plain; charset=utf-8"), QHttpServerResponder::StatusCode::NotFound);
}

void ServiceServer::setInterceptor(Interceptor newInterceptor)
{
    interceptor = std::move(newInterceptor);
}

void ServiceServer::addGetRoute(const QString& prefix, std::function<Reply(const QString& path)> answer)
{
    routes.push_back({ prefix, true, QHttpServerRequest::Method::Get,
        [this, answer = std::move(answer)](
            const JobPtr& job, const ServiceConfig&) { finish(job, answer(job->path)); } });
}

void ServiceServer::route(const JobPtr& job, QHttpServerRequest::Method method, const ServiceConfig& config)
{
    const QString& path = job->path;
    const auto found = std::find_if(routes.cbegin(), routes.cend(),
        [&](const Route& route) { return route.prefix ? path.startsWith(route.path) : path == route.path; });
    if (found == routes.cend())
        refuse(job, 404, "Not found\n");
    else if (found->method != method)
        refuse(job, 405, "Method not allowed\n");
    else
        found->handle(job, config);
}

void ServiceServer::signIn(const JobPtr& job)
{
    job->accountName = FormBody::firstText(job->body, "username", maxCredentialBytes);
    if (answeredAsWrongPassword(job))
        return;
    runOnWorker(job, [this, job, body = std::exchange(job->body, QByteArray())] {
        qint64 account = 0;
        QString userId;
        QByteArray refusal;
        Reply reply;
        reply.mimeType = jsonType;
        const bool ok = verify(body, &account, &userId, &refusal);
        if (!ok && refusal == badCredentials())
            countFailure(job);
        reply.body = ok ? json({ { QStringLiteral("id"), userId } }) : refusal;
        return reply;
    });
}

void ServiceServer::feedback(const JobPtr& job)
{
    if (options.feedbackPerHour > 0) {
        const QString address = job->address.toString();
        if (feedbackByAddress.count(address) >= options.feedbackPerHour) {
            refuse(job, 429, tooManyFeedbacks());
            return;
        }
        feedbackByAddress.add(address);
    }
    runOnWorker(job, [this, body = std::exchange(job->body, QByteArray())] {
        const FormBody form(body, { "email", "subject", "content" });
        const QString content = QString::fromUtf8(form.bytes(form.find("content")));
        const bool stored = !content.isEmpty()
            && store->addFeedback(QString::fromUtf8(form.bytes(form.find("email"))),
                QString::fromUtf8(form.bytes(form.find("subject"))), content);
        Reply reply;
        reply.body = stored ? "success" : "failed: no feedback stored";
        return reply;
    });
}

void ServiceServer::health(const JobPtr& job)
{
    runOnWorker(job, [this] {
        Reply reply;
        reply.mimeType = jsonType;
        // A store that reads but cannot take a write (a full disk, a read-only database) cannot
        // serve a synchronisation either.
        const bool available = store->isAvailable() && store->isWritable();
        reply.status = available ? 200 : 503;
        reply.body
            = json({ { QStringLiteral("status"), available ? QStringLiteral("ok") : QStringLiteral("unavailable") } });
        return reply;
    });
}

void ServiceServer::updateRecord(const JobPtr& job, const ServiceConfig& config)
{
    Reply reply;
    reply.mimeType = jsonType;
    reply.body = json(config.update);
    if (config.updateConfigured
        && !(config.update.contains(QLatin1String("sha256")) && config.update.contains(QLatin1String("signature"))))
        std::fprintf(stderr,
            "quorvane-service: warning: the configured update record has no \"sha256\" and \"signature\" of its "
            "file; served as it is, and the program offers no such release\n");
    finish(job, reply);
}

void ServiceServer::refuse(const JobPtr& job, int status, const QByteArray& text)
{
    job->body = QByteArray();
    Reply reply;
    reply.status = status;
    reply.body = text;
    finish(job, reply);
}

ServiceServer::Reply ServiceServer::homePage(bool local) const
{
    Reply reply;
    reply.mimeType = htmlType;
    // The commands that add an account to the very file this service reads, for the household's own
    // computer; where the program and its store are is nobody else's business.
    QStringList words { QCoreApplication::applicationFilePath() };
    words += options.storeArguments.isEmpty() ? QStringList { QStringLiteral("--data"), store->path() }
                                              : options.storeArguments;
    for (QString& word : words)
        word = shellWord(word);
    if (!local)
        words
            = QStringList { QStringLiteral("quorvane-service"), QStringLiteral("--store"), QStringLiteral("存储位置") };
    const QString command = (words.join(QLatin1Char(' ')) + QStringLiteral(" --add-user 用户名")).toHtmlEscaped();
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
          "<li>服务不保存比自己的时钟晚五分钟以上的修改时间：时钟快了的设备上传的这种修改，按服务收到它的时间"
          "保存，并发回给上传它的设备。设备的时钟和服务相差五分钟以上时，同步照常完成，设备会提示时钟不准。"
          "设备自己记着还没上传的修改，不看时钟，所以时钟慢了或调过之后做的修改也都会上传。</li>"
          "<li>每台设备还缺哪些记录，由服务自己记录的同步进度决定，不比较设备和服务的时钟，所以设备时钟不准"
          "或被调整过都不会漏掉别的设备的修改。服务无法判断时（第一次同步、换了账号的账本），会把账号的全部"
          "记录发给设备；设备只接受比自己更晚的修改（自己的修改时间比服务的时钟晚五分钟以上的除外），多发不会"
          "改坏数据。</li>"
          "</ul></body></html>\n";
    return reply;
}

bool ServiceServer::verify(const QByteArray& body, qint64* account, QString* userId, QByteArray* refusal)
{
    *refusal = badCredentials();
    const FormBody form(body, { "username", "password" });
    bool nameTooLong = false;
    bool passwordTooLong = false;
    QString name = form.text("username", maxCredentialBytes, &nameTooLong);
    const QString password = form.text("password", maxCredentialBytes, &passwordTooLong);
    if (nameTooLong || passwordTooLong)
        return false;
    // No account has such a name, and it is never sent to the store (whose driver may write it into
    // a statement's text); it costs the hash of an unknown name all the same.
    if (hasControlCharacter(name))
        name = QString();
    if (passwords->find(name, password, account, userId))
        return true;
    ServiceStore::Failure failure;
    *userId = store->authenticate(name, password, account, &failure);
    if (userId->isEmpty()) {
        // A store that cannot be read is not a wrong password: the client is told so.
        if (failure.code != 0)
            *refusal = errorObject(failure.code, failure.message);
        return false;
    }
    passwords->remember(name, password, *account, *userId);
    return true;
}

void ServiceServer::startSynchronisation(const JobPtr& job)
{
    // The queue is chosen here, in the order requests arrive; the name is the first field the
    // program sends, so little of the body is looked at on this thread.
    job->accountName = FormBody::firstText(job->body, "username", maxCredentialBytes);
    if (answeredAsWrongPassword(job))
        return;
    accountQueues[job->accountName].push_back(job);
    // Checked at once, at the same time as the account's earlier requests are merged; the change
    // set is not touched.
    workers.start([this, job, body = job->body]() mutable {
        qint64 account = 0;
        QString userId;
        QByteArray refusal;
        const bool ok = verify(body, &account, &userId, &refusal);
        body = QByteArray();
        if (!ok && refusal == badCredentials())
            countFailure(job);
        QMetaObject::invokeMethod(
            this,
            [this, job = std::move(job), ok, account, refusal = std::move(refusal)] {
                authenticated(job, ok, account, refusal);
            },
            Qt::QueuedConnection);
    });
}

void ServiceServer::authenticated(const JobPtr& job, bool ok, qint64 account, const QByteArray& refusal)
{
    if (!ok) {
        auto& queue = accountQueues[job->accountName];
        queue.erase(std::remove(queue.begin(), queue.end(), job), queue.end());
        job->body = QByteArray();
        Reply refused;
        refused.mimeType = jsonType;
        refused.body = refusal;
        finish(job, refused);
    } else {
        job->account = account;
        job->stage = Job::Stage::Ready;
    }
    nextOfAccount(job->accountName);
}

void ServiceServer::nextOfAccount(const QString& name)
{
    const auto queue = accountQueues.find(name);
    if (queue == accountQueues.end())
        return;
    if (queue->empty()) {
        accountQueues.erase(queue);
        return;
    }
    const JobPtr head = queue->front();
    if (head->stage != Job::Stage::Ready)
        return;
    head->stage = Job::Stage::Merging;
    workers.start([this, head, body = std::exchange(head->body, QByteArray())]() mutable {
        Reply reply;
        reply.mimeType = jsonType;
        {
            const FormBody form(body, { "sync_time", "client_time", "data" });
            const QString syncTime = form.text("sync_time", maxTimeBytes);
            const QString clientTime = form.text("client_time", maxTimeBytes);
            // The change set decoded once, into one byte array, and the form let go of.
            QByteArray data = form.bytes(form.find("data"));
            body = QByteArray();
            ServiceStore::Failure failure;
            if (!store->synchronise(head->account, syncTime, clientTime, data, &reply.body, &failure))
                reply.body = errorObject(failure.code, failure.message);
        }
        QMetaObject::invokeMethod(
            this,
            [this, head = std::move(head), reply = std::move(reply)]() mutable {
                auto& queue = accountQueues[head->accountName];
                if (!queue.empty() && queue.front() == head)
                    queue.pop_front();
                finish(head, std::move(reply));
                nextOfAccount(head->accountName);
            },
            Qt::QueuedConnection);
    });
}

void ServiceServer::runOnWorker(const JobPtr& job, std::function<Reply()> work)
{
    workers.start([this, job, work = std::move(work)]() mutable {
        Reply reply = work();
        // The work lets go of what it held here; the job itself is let go of on the main thread.
        work = nullptr;
        QMetaObject::invokeMethod(
            this, [this, job = std::move(job), reply = std::move(reply)]() mutable { finish(job, std::move(reply)); },
            Qt::QueuedConnection);
    });
}

void ServiceServer::finish(const JobPtr& job, Reply reply)
{
    --pending;
    job->reply = std::move(reply);
    // Logged once the outcome is known, before a delay holds the answer back.
    log(job, QString::number(job->reply.status));
    const auto done = [this, job] {
        job->done = true;
        if (job->socket)
            flush(job->socket);
        stopWhenDone();
    };
    if (job->writeAfterMs > 0)
        QTimer::singleShot(job->writeAfterMs, this, done);
    else
        done();
}

void ServiceServer::flush(QTcpSocket* socket)
{
    const auto found = unanswered.find(socket);
    if (found == unanswered.end())
        return;
    // Answers go out in the order of the connection's requests.
    while (!found->empty() && found->front()->done) {
        const JobPtr job = found->front();
        found->pop_front();
        write(job);
    }
}

void ServiceServer::write(const JobPtr& job)
{
    QTcpSocket* socket = job->socket;
    if (!socket || socket->state() != QAbstractSocket::ConnectedState)
        return;
    QHttpServerResponder& responder = *job->responder;
    responder.writeStatusLine(static_cast<QHttpServerResponder::StatusCode>(job->reply.status));
    responder.writeHeader("Content-Type", job->reply.mimeType);
    responder.writeHeader("Content-Length", QByteArray::number(job->reply.body.size()));
    // The service's time, by which a device tells that its own clock is off.
    responder.writeHeader("Date",
        QLocale::c()
            .toString(QDateTime::currentDateTimeUtc(), QStringLiteral("ddd, dd MMM yyyy hh:mm:ss 'GMT'"))
            .toLatin1());
    if (!job->reply.location.isEmpty())
        responder.writeHeader("Location", job->reply.location);
    // The client opens a new connection for its next request, after the restart.
    if (stopping)
        responder.writeHeader("Connection", "close");
    responder.writeBody("", 0);
    // Handed over as it is: the socket keeps a reference to a byte array of a chunk or more rather
    // than a copy, and lets go of it once it is sent.
    socket->write(std::exchange(job->reply.body, QByteArray()));
    tcp->answerWritten(socket);
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

void ServiceServer::log(const JobPtr& job, const QString& outcome)
{
    if (!requestLog.isOpen())
        return;
    QJsonObject entry = job->logEntry;
    entry.insert(QStringLiteral("outcome"), outcome);
    requestLog.write(json(entry) + '\n');
    requestLog.flush();
}

void ServiceServer::logRefused(const QString& outcome)
{
    if (!requestLog.isOpen())
        return;
    requestLog.write(json({ { QStringLiteral("outcome"), outcome } }) + '\n');
    requestLog.flush();
}

bool ServiceServer::signInRefused(const JobPtr& job)
{
    const int limit = options.signInFailures;
    if (limit <= 0)
        return false;
    const int fromAddress = failuresByAddress.count(job->address.toString());
    // An address that has sent no wrong password is always heard: the right password of the
    // account's owner, while someone elsewhere guesses at the name.
    if (fromAddress < limit && (fromAddress == 0 || failuresByName.count(job->accountName) < limit))
        return false;
    // A password verified a short while ago is let through all the same: knowing it is no guess.
    const FormBody form(job->body, { "username", "password" });
    const QString name = form.text("username", maxCredentialBytes);
    const QString password = form.text("password", maxCredentialBytes);
    qint64 account = 0;
    QString userId;
    return !passwords->find(name, password, &account, &userId);
}

bool ServiceServer::answeredAsWrongPassword(const JobPtr& job)
{
    if (!signInRefused(job))
        return false;
    job->body = QByteArray();
    Reply refused;
    refused.mimeType = jsonType;
    refused.body = badCredentials();
    finish(job, refused);
    return true;
}

void ServiceServer::countFailure(const JobPtr& job)
{
    failuresByAddress.add(job->address.toString());
    failuresByName.add(job->accountName);
}

void ServiceServer::stop()
{
    if (stopping)
        return;
    stopping = true;
    connect(tcp, &GuardedTcpServer::drained, this, &ServiceServer::stopWhenDone);
    tcp->stop();
    for (auto it = unanswered.cbegin(); it != unanswered.cend(); ++it) {
        if (!it->empty() && it->front()->held && it->front()->socket)
            it->front()->socket->abort();
    }
    // Each request under way has had its time to arrive whole by then.
    QTimer::singleShot(options.requestTimeoutMs, tcp, &GuardedTcpServer::closeUnfinished);
}

void ServiceServer::stopWhenDone()
{
    if (!stopping || pending > 0 || tcp->connectionCount() > 0)
        return;
    stopping = false;
    emit stopped();
}
