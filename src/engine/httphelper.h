#pragma once

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>

class QIODevice;
class QNetworkAccessManager;
class QNetworkReply;
class QNetworkRequest;
class QTemporaryFile;
class QUrl;

// One GET or one form POST to the web service, with the program's fixed request headers; answers
// with the reply's text in finished() (or, for postSpooled(), its body in a file in spooled()) or
// with error(). One helper serves one request. A reply larger than maxReplyBytes() is cut off as soon
// as that shows and ends in error(), before it takes more memory or disk.
class HttpHelper : public QObject {
    Q_OBJECT

public:
    // Form fields, sent in this order.
    using FormFields = QList<QPair<QString, QString>>;

    explicit HttpHelper(QObject* parent);

    void post(const QString& url, const FormFields& fields);
    void get(const QString& url);
    // Posts the form body that body holds (read from where it stands; it must stay open until the
    // answer) and writes the reply into a temporary file as it arrives, handed on in spooled().
    void postSpooled(const QString& url, QIODevice* body);

    // name=value pairs joined by "&", every byte outside the unreserved set percent-encoded from
    // UTF-8 (so "+" travels as %2B and a form decoder gives back exactly the texts).
    static QByteArray encodeForm(const FormFields& fields);

    // A request for url with the program's fixed browser headers, the "Accept-Encoding" header among
    // them when acceptEncoding is given; redirections are not followed, and a transfer without
    // progress for transferTimeout() fails.
    static QNetworkRequest makeRequest(const QUrl& url, const QByteArray& acceptEncoding = QByteArray());

    // How long a request may go without any progress before it fails (60 s); tests shorten it.
    static int transferTimeout();
    static void setTransferTimeout(int milliseconds);

    // The largest reply taken (1 GiB: an account of a million bills answers some 450 MB); tests and
    // the command line lower it.
    static qint64 maxReplyBytes();
    static void setMaxReplyBytes(qint64 bytes);
    // True after error() when the reply was larger than maxReplyBytes().
    bool replyTooLarge() const { return tooLarge; }
    // The time the reply's "Date" header gives (UTC), once it has come; invalid when the header is
    // missing or not an HTTP date.
    QDateTime serverTime() const { return replyDate; }
    // An HTTP date ("Sun, 06 Nov 1994 08:49:37 GMT") as a UTC time; invalid for anything else.
    static QDateTime parseHttpDate(const QByteArray& text);

signals:
    // The reply's body as UTF-8 text, up to its first zero byte.
    void finished(const QString& text);
    // The reply's body in a file, read from its start, up to the end of the reply (postSpooled()).
    void spooled(QIODevice* body);
    // The request failed: no connection, an HTTP error status, the time-out, or a reply too large.
    void error();

private slots:
    void replyFinished(QNetworkReply* reply);

private:
    void startManager();
    // Watches the reply's size (and, spooling, writes what arrives into the file).
    void watch(QNetworkReply* reply);
    bool takeArrived(QNetworkReply* reply);

    QNetworkAccessManager* manager = nullptr;
    QTemporaryFile* spool = nullptr;
    qint64 arrived = 0;
    bool tooLarge = false;
    QDateTime replyDate;
};
