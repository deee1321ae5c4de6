#include "engine/httphelper.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

#include "engine/synclogging.h"

namespace {

int timeoutMs = 60000;

} // namespace

HttpHelper::HttpHelper(QObject* parent)
    : QObject(parent)
{
}

int HttpHelper::transferTimeout()
{
    return timeoutMs;
}

void HttpHelper::setTransferTimeout(int milliseconds)
{
    timeoutMs = milliseconds;
}

QByteArray HttpHelper::encodeForm(const FormFields& fields)
{
    QByteArray body;
    for (const auto& pair : fields) {
        if (!body.isEmpty())
            body += '&';
        body += QUrl::toPercentEncoding(pair.first) + '=' + QUrl::toPercentEncoding(pair.second);
    }
    return body;
}

QNetworkRequest HttpHelper::makeRequest(const QUrl& url, const QByteArray& acceptEncoding)
{
    QNetworkRequest request { url };
    request.setRawHeader("User-Agent",
        "Mozilla/4.0 (compatible; MSIE 7.0; Windows NT 5.1; .NET CLR 1.1.4322; .NET CLR 2.0.50727; .NET CLR "
        "3.0.04506.30)");
    request.setRawHeader("Accept", "text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8");
    request.setRawHeader("Accept-Language", "zh-cn,zh;q=0.5");
    if (!acceptEncoding.isEmpty())
        request.setRawHeader("Accept-Encoding", acceptEncoding);
    request.setRawHeader("Accept-Charset", "utf-8;q=0.7,*;q=0.7");
    request.setRawHeader("Connection", "keep-alive");
    // A redirection is an answer like any other: its own body is what the caller gets (the installer
    // download follows them itself, one request at a time).
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    // A service that stops answering ends in error() instead of leaving a synchronisation open.
    request.setTransferTimeout(timeoutMs);
    return request;
}

void HttpHelper::startManager()
{
    if (manager)
        manager->deleteLater();
    manager = new QNetworkAccessManager(this);
    connect(manager, &QNetworkAccessManager::finished, this, &HttpHelper::replyFinished);
}

void HttpHelper::post(const QString& url, const FormFields& fields)
{
    QNetworkRequest request = makeRequest(QUrl(url));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/x-www-form-urlencoded"));
    startManager();
    manager->post(request, encodeForm(fields));
}

void HttpHelper::get(const QString& url)
{
    const QNetworkRequest request = makeRequest(QUrl(url));
    startManager();
    manager->get(request);
}

void HttpHelper::replyFinished(QNetworkReply* reply)
{
    // The reply and its manager are done with once the answer is passed on.
    reply->deleteLater();
    if (reply->manager() == manager) {
        manager->deleteLater();
        manager = nullptr;
    }
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (reply->error() != QNetworkReply::NoError || status >= 400) {
        qCInfo(lcSync) << "http request error :" << int(reply->error()) << status << reply->url().toString();
        emit error();
        return;
    }
    QByteArray body = reply->readAll();
    const qsizetype zero = body.indexOf('\0');
    if (zero >= 0)
        body.truncate(zero);
    emit finished(QString::fromUtf8(body));
}
