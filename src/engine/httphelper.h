#pragma once

#include <QList>
#include <QObject>
#include <QPair>
#include <QString>

class QNetworkAccessManager;
class QNetworkReply;
class QNetworkRequest;
class QUrl;

// One GET or one form POST to the web service, with the program's fixed request headers; answers
// with the reply's text in finished() or with error(). One helper serves one request.
class HttpHelper : public QObject {
    Q_OBJECT

public:
    // Form fields, sent in this order.
    using FormFields = QList<QPair<QString, QString>>;

    explicit HttpHelper(QObject* parent);

    void post(const QString& url, const FormFields& fields);
    void get(const QString& url);

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

signals:
    // The reply's body as UTF-8 text, up to its first zero byte.
    void finished(const QString& text);
    // The request failed: no connection, an HTTP error status, or the time-out.
    void error();

private slots:
    void replyFinished(QNetworkReply* reply);

private:
    void startManager();

    QNetworkAccessManager* manager = nullptr;
};
