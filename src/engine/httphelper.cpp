#include "engine/httphelper.h"

#include <QLocale>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTemporaryFile>
#include <QUrl>

#include "engine/synclogging.h"

namespace {

int timeoutMs = 60000;
qint64 replyCap = qint64(1) << 30;

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

qint64 HttpHelper::maxReplyBytes()
{
    return replyCap;
}

void HttpHelper::setMaxReplyBytes(qint64 bytes)
{
    replyCap = bytes;
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
    watch(manager->post(request, encodeForm(fields)));
}

void HttpHelper::postSpooled(const QString& url, QIODevice* body)
{
    QNetworkRequest request = makeRequest(QUrl(url));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/x-www-form-urlencoded"));
    request.setHeader(QNetworkRequest::ContentLengthHeader, body->size() - body->pos());
    delete spool;
    spool = new QTemporaryFile(this);
    if (!spool->open()) {
        qCWarning(lcSync) << "cannot make a file for the reply:" << spool->errorString();
        QMetaObject::invokeMethod(this, &HttpHelper::error, Qt::QueuedConnection);
        return;
    }
    startManager();
    watch(manager->post(request, body));
}

void HttpHelper::get(const QString& url)
{
    const QNetworkRequest request = makeRequest(QUrl(url));
    startManager();
    watch(manager->get(request));
}

QDateTime HttpHelper::parseHttpDate(const QByteArray& text)
{
    // The one form HTTP servers send today (RFC 9110's IMF-fixdate); day and month names in English.
    QDateTime time = QLocale::c().toDateTime(
        QString::fromLatin1(text.trimmed()), QStringLiteral("ddd, dd MMM yyyy hh:mm:ss 'GMT'"));
    if (!time.isValid())
        return QDateTime();
    time.setTimeSpec(Qt::UTC);
    return time;
}

void HttpHelper::watch(QNetworkReply* reply)
{
    replyDate = QDateTime();
    arrived = 0;
    tooLarge = false;
    // A stated length over the cap ends the request before its body comes.
    connect(reply, &QNetworkReply::metaDataChanged, this, [this, reply] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > replyCap) {
            tooLarge = true;
            reply->abort();
        }
    });
    connect(reply, &QNetworkReply::readyRead, this, [this, reply] {
        if (spool) {
            takeArrived(reply);
        } else if (reply->bytesAvailable() > replyCap) {
            tooLarge = true;
            reply->abort();
        }
    });
}

bool HttpHelper::takeArrived(QNetworkReply* reply)
{
    if (tooLarge)
        return false;
    const QByteArray data = reply->readAll();
    arrived += data.size();
    if (arrived > replyCap) {
        tooLarge = true;
        reply->abort();
        return false;
    }
    if (spool->write(data) != data.size()) {
        qCWarning(lcSync) << "cannot write the reply:" << spool->errorString();
        reply->abort();
        return false;
    }
    return true;
}

void HttpHelper::replyFinished(QNetworkReply* reply)
{
    // The reply and its manager are done with once the answer is passed on.
    reply->deleteLater();
    if (reply->manager() == manager) {
        manager->deleteLater();
        manager = nullptr;
    }
    replyDate = parseHttpDate(reply->rawHeader("Date"));
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const bool failed = reply->error() != QNetworkReply::NoError || status >= 400 || tooLarge
        || (spool && !takeArrived(reply)) || (!spool && reply->bytesAvailable() > replyCap);
    if (failed) {
        if (!tooLarge && !spool && reply->bytesAvailable() > replyCap)
            tooLarge = true;
        if (tooLarge)
            qCInfo(lcSync) << "reply larger than" << replyCap << "bytes:" << reply->url().toString();
        qCInfo(lcSync) << "http request error :" << int(reply->error()) << status << reply->url().toString();
        emit error();
        return;
    }
    if (spool) {
        // The end of the body is where it was written up to; a zero byte ends a reply as it ends a text.
        spool->flush();
        spool->seek(0);
        emit spooled(spool);
        return;
    }
    QByteArray body = reply->readAll();
    const qsizetype zero = body.indexOf('\0');
    if (zero >= 0)
        body.truncate(zero);
    emit finished(QString::fromUtf8(body));
}
