#include "releasekit.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QSignalSpy>

#include "data/mversion.h"
#include "engine/releasedigest.h"
#include "releasekey/releasekey.h"

ThrowawayReleaseKey::ThrowawayReleaseKey()
    : keys(ReleaseSigner::generate())
{
    ReleaseKey::trustForTesting(keys.publicKey);
}

ThrowawayReleaseKey::~ThrowawayReleaseKey()
{
    ReleaseKey::trustForTesting(QByteArray());
}

QJsonObject ThrowawayReleaseKey::sign(const QByteArray& bytes) const
{
    return signWith(keys.secretKey, bytes);
}

QJsonObject ThrowawayReleaseKey::signWith(const QByteArray& secretKey, const QByteArray& bytes)
{
    ReleaseDigest digest;
    digest.addData(bytes);
    return { { QStringLiteral("sha256"), ReleaseDigest::toHex(digest.result()) },
        { QStringLiteral("signature"),
            QString::fromLatin1(ReleaseSigner::sign(digest.result(), secretKey).toBase64()) } };
}

void setSignature(MVersion& version, const QJsonObject& signature)
{
    version.sha256 = signature.value(QLatin1String("sha256")).toString();
    version.signature = signature.value(QLatin1String("signature")).toString();
}

QByteArray fetchBytes(const QString& url)
{
    QNetworkAccessManager manager;
    QNetworkRequest request { QUrl(url) };
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setTransferTimeout(60000);
    QNetworkReply* reply = manager.get(request);
    QSignalSpy finished(reply, &QNetworkReply::finished);
    finished.wait(60000);
    const QByteArray body = reply->error() == QNetworkReply::NoError ? reply->readAll() : QByteArray();
    delete reply;
    return body;
}

ToolRun runReleaseTool(const QStringList& arguments)
{
    ToolRun run;
    QProcess process;
    process.start(QStringLiteral(QUORVANE_RELEASE_EXECUTABLE), arguments);
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        run.errors = QStringLiteral("quorvane-release did not end");
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.output = process.readAllStandardOutput();
    run.errors = QString::fromUtf8(process.readAllStandardError());
    return run;
}
