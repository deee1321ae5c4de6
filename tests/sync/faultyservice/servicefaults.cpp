#include "servicefaults.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

#include "serviceserver.h"

namespace {

// The fault for path in the configuration file; none when the file is missing or unreadable (the
// service itself reports a file it cannot read).
QJsonObject faultFor(const QString& configPath, const QString& path)
{
    if (configPath.isEmpty())
        return {};
    QFile file(configPath);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QJsonObject config = QJsonDocument::fromJson(file.readAll()).object();
    return config.value(QLatin1String("faults")).toObject().value(path).toObject();
}

ServiceServer::Interception intercept(const QJsonObject& fault)
{
    using Action = ServiceServer::Interception::Action;
    ServiceServer::Interception interception;
    if (fault.value(QLatin1String("hang")).toBool()) {
        interception.action = Action::Hold;
        interception.outcome = QStringLiteral("hang");
        return interception;
    }
    if (fault.value(QLatin1String("close")).toBool()) {
        interception.action = Action::Close;
        interception.outcome = QStringLiteral("close");
        return interception;
    }
    interception.writeAfterMs = fault.value(QLatin1String("delay")).toInt();
    ServiceServer::Reply& reply = interception.reply;
    reply.status = 0;
    if (fault.contains(QLatin1String("status"))) {
        reply.status = fault.value(QLatin1String("status")).toInt();
        reply.body = "Fault injected\n";
        // A redirection of the configuration's choosing, to another server say; never one from the
        // request.
        reply.location = QUrl(fault.value(QLatin1String("location")).toString()).toEncoded();
    } else if (fault.contains(QLatin1String("body"))) {
        reply.status = 200;
        reply.mimeType = "text/html; charset=utf-8";
        reply.body = fault.value(QLatin1String("body")).toString().toUtf8();
    } else if (fault.contains(QLatin1String("error"))) {
        reply.status = 200;
        reply.mimeType = "application/json; charset=utf-8";
        reply.body
            = QJsonDocument(QJsonObject { { QStringLiteral("error"), fault.value(QLatin1String("error")).toInt() },
                                { QStringLiteral("message"), fault.value(QLatin1String("message")).toString() } })
                  .toJson(QJsonDocument::Compact);
    }
    if (reply.status != 0)
        interception.action = Action::Answer;
    return interception;
}

ServiceServer::Reply redirection(const ServiceServer& server, const QString& path)
{
    ServiceServer::Reply reply;
    reply.status = path.startsWith(QLatin1String("r301/")) ? 301 : 302;
    // The decoded path is encoded again for the header and escaped for the page.
    QUrl target(server.baseUrl());
    target.setPath(QLatin1Char('/') + path.mid(5), QUrl::DecodedMode);
    reply.location = target.toEncoded();
    reply.mimeType = "text/html; charset=utf-8";
    reply.body = "<html><body>Moved to <a href=\"" + QString::fromLatin1(reply.location).toHtmlEscaped().toUtf8()
        + "\">here</a>.</body></html>\n";
    return reply;
}

} // namespace

void installServiceFaults(ServiceServer& server, const QString& configPath)
{
    server.setInterceptor([configPath](const QString& path) { return intercept(faultFor(configPath, path)); });
    for (const char* prefix : { "r301/", "r302/" }) {
        server.addGetRoute(QLatin1String(prefix), [&server](const QString& path) { return redirection(server, path); });
    }
}
