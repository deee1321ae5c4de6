#include "sync/dupdate.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextDocumentFragment>
#include <QTimer>
#include <limits>

#include "data/mversion.h"
#include "engine/httphelper.h"
#include "engine/releasesignature.h"
#include "engine/synclogging.h"
#include "sync/installerlauncher.h"
#include "widgets/dmessagebox.h"
#include "widgets/styledbackground.h"
#include "ui_dupdate.h"

namespace {

// Only web addresses are downloaded: a file: address or a redirection to one would run a file
// already on this computer.
bool isWebAddress(const QUrl& url)
{
    const QString scheme = url.scheme().toLower();
    return url.isValid() && !url.host().isEmpty()
        && (scheme == QLatin1String("http") || scheme == QLatin1String("https"));
}

// A final answer with the file, not a redirection or an error page.
bool carriesFile(const QNetworkReply* reply)
{
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    return status >= 200 && status < 300 && reply->attribute(QNetworkRequest::RedirectionTargetAttribute).isNull();
}

} // namespace

DUpdate::DUpdate(QWidget* parent, MVersion* version)
    : QDialog(parent)
    , ui(new Ui::DUpdate)
    , version(version)
{
    setProperty("style", QStringLiteral("dialog"));
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    ui->setupUi(this);
    ui->wgtTitle->setTitle(tr("软件更新"));
    ui->stackedWidget->setCurrentWidget(ui->page);
    ui->tbDescription->setText(version->description);
}

DUpdate::~DUpdate()
{
    delete ui;
}

void DUpdate::paintEvent(QPaintEvent*)
{
    paintStyledBackground(this);
}

void DUpdate::on_pbUpdate_clicked()
{
    ui->stackedWidget->setCurrentWidget(ui->page_2);
    startlDownload();
}

void DUpdate::on_pbCancel_clicked()
{
    cancelDownload();
    close();
}

void DUpdate::on_pbCancel_2_clicked()
{
    close();
}

void DUpdate::done(int result)
{
    if (!installing)
        cancelDownload();
    QDialog::done(result);
}

void DUpdate::cancelDownload()
{
    // For good: no later answer, of the page or of a download, starts another step.
    cancelled = true;
    if (reply)
        reply->abort();
}

QString DUpdate::getDownloadLink(const QString& html, const QString& pattern)
{
    const QRegularExpression expression(
        pattern, QRegularExpression::CaseInsensitiveOption | QRegularExpression::InvertedGreedinessOption);
    const QRegularExpressionMatch match = expression.match(html);
    if (!match.hasMatch())
        return QString();
    return QTextDocumentFragment::fromHtml(match.captured(1)).toPlainText();
}

QString DUpdate::newDownloadFilePath()
{
    if (!downloadDir) {
        downloadDir = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/quorvane-update-XXXXXX"));
        if (!downloadDir->isValid()) {
            qCWarning(lcSync) << "update: no download folder:" << downloadDir->errorString();
            downloadDir.reset();
            return QString();
        }
    }
    const QString stem = downloadDir->filePath(
        QStringLiteral("quorvane") + QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMddhhmmss")));
    QString path = stem + QStringLiteral(".exe");
    // Two attempts within one second get names of their own.
    for (int n = 1; QFileInfo::exists(path); ++n)
        path = stem + QStringLiteral("-%1.exe").arg(n);
    return QDir::toNativeSeparators(path);
}

void DUpdate::startlDownload()
{
    if (cancelled)
        return;
    QUrl address;
    if (!downloadUrl.isEmpty()) {
        address = downloadUrl;
    } else if (source == 0) {
        address = QUrl(version->url1, QUrl::TolerantMode);
    } else if (source == 1) {
        auto* page = new HttpHelper(this);
        connect(page, &HttpHelper::finished, this, &DUpdate::panHtmlDownloaded);
        connect(page, &HttpHelper::error, this, [this] { failAttempt(tr("无法打开下载页面")); });
        page->get(version->panurl);
        return;
    }

    ui->lblDownloadStatus->setText(tr("正在下载新版Quorvane记账软件，请稍候..."));
    if (!isWebAddress(address)) {
        failAttemptLater(address.isEmpty() ? tr("没有下载地址") : tr("无效的下载地址 %1").arg(address.toString()));
        return;
    }
    downloadFilePath = newDownloadFilePath();
    if (downloadFilePath.isEmpty()) {
        failAttemptLater(tr("无法创建临时文件夹"));
        return;
    }
    digest.reset();
    writeFailed = false;
    // Redirections come back as answers and are followed in downloadFinished(), so that none of
    // their bodies is kept.
    reply = manager.get(HttpHelper::makeRequest(address, "deflate"));
    connect(reply, &QNetworkReply::finished, this, &DUpdate::downloadFinished);
    connect(reply, &QNetworkReply::readyRead, this, &DUpdate::downloadReadyRead);
    connect(reply, &QNetworkReply::downloadProgress, this, &DUpdate::downloadProgress);
}

void DUpdate::downloadReadyRead()
{
    if (!reply)
        return;
    const QByteArray piece = reply->readAll();
    if (cancelled || writeFailed || piece.isEmpty() || !carriesFile(reply))
        return;
    if (!downloadFile) {
        // A file of its own in the private folder, never one that was already there.
        downloadFile = std::make_unique<QFile>(downloadFilePath);
        if (!downloadFile->open(
                QIODevice::WriteOnly | QIODevice::NewOnly, QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
            qCWarning(lcSync) << "update: cannot create" << downloadFilePath << downloadFile->errorString();
            writeFailed = true;
            return;
        }
    }
    if (downloadFile->write(piece) != piece.size()) {
        qCWarning(lcSync) << "update: cannot write" << downloadFilePath << downloadFile->errorString();
        writeFailed = true;
        return;
    }
    digest.addData(piece);
}

bool DUpdate::closeDownloadFile()
{
    if (!downloadFile)
        return !writeFailed;
    const bool flushed = downloadFile->flush();
    downloadFile->close();
    downloadFile.reset();
    return flushed && !writeFailed;
}

void DUpdate::discardDownload()
{
    downloadFile.reset();
    if (!downloadFilePath.isEmpty())
        QFile::remove(downloadFilePath);
}

void DUpdate::downloadProgress(qint64 bytesReceived, qint64 bytesTotal)
{
    if (cancelled)
        return;
    if (bytesTotal <= 0) {
        // Size unknown: a busy bar.
        ui->pbProgress->setRange(0, 0);
        return;
    }
    // The bar counts in int: files past 2 GiB are shown in KiB.
    const int shift = bytesTotal > std::numeric_limits<int>::max() ? 10 : 0;
    ui->pbProgress->setRange(0, int(bytesTotal >> shift));
    ui->pbProgress->setValue(int(qMin(bytesReceived, bytesTotal) >> shift));
}

void DUpdate::panHtmlDownloaded(const QString& html)
{
    if (cancelled)
        return;
    const QString link = getDownloadLink(html, version->panreg);
    nextSource(link.size() > 10 ? QUrl::fromEncoded(link.toUtf8(), QUrl::TolerantMode) : QUrl());
}

void DUpdate::nextSource(const QUrl& address)
{
    ++source;
    // A redirection found in one step leads nowhere in the next.
    downloadUrl = address;
    redirects = 0;
    startlDownload();
}

void DUpdate::failAttempt(const QString& errorText)
{
    if (cancelled)
        return;
    if (source == 0) {
        nextSource();
        return;
    }
    endChain(errorText);
}

void DUpdate::endChain(const QString& errorText)
{
    DMessageBox::information(this, tr("下载失败"), tr("下载文件时出现错误: %1").arg(errorText));
    // The chain has ended: the page no longer says it is downloading.
    ui->lblDownloadStatus->setText(tr("下载失败"));
}

void DUpdate::failAttemptLater(const QString& errorText)
{
    // As a failed request would: after the current step has returned.
    QTimer::singleShot(0, this, [this, errorText] { failAttempt(errorText); });
}

void DUpdate::downloadFinished()
{
    QNetworkReply* finished = reply;
    // Whatever of the body has not been read yet.
    downloadReadyRead();
    reply = nullptr;
    finished->deleteLater();
    const bool complete = closeDownloadFile();
    if (cancelled) {
        discardDownload();
        return;
    }

    const QUrl target = finished->attribute(QNetworkRequest::RedirectionTargetAttribute).toUrl();
    if (!target.isEmpty()) {
        discardDownload();
        if (++redirects > maximumRedirects) {
            failAttempt(tr("重定向次数过多"));
            return;
        }
        downloadUrl = finished->url().resolved(target);
        startlDownload();
        return;
    }

    if (finished->error() != QNetworkReply::NoError) {
        discardDownload();
        failAttempt(finished->errorString());
        return;
    }
    if (!complete || QFileInfo(downloadFilePath).size() < minimumInstallerSize) {
        discardDownload();
        nextSource();
        return;
    }
    // Whichever address it came from, a file that is not the signed release is never started, and
    // no other address is tried for it.
    const QString refused = checkDownload();
    if (!refused.isEmpty()) {
        qCWarning(lcSync).noquote() << "update: downloaded file refused:" << refused;
        discardDownload();
        endChain(refused);
        return;
    }
    DMessageBox::information(this, tr("下载成功"), tr("下载成功，软件将自动重启并完成升级。"));
    startInstaller();
}

QString DUpdate::checkDownload() const
{
    const QByteArray announced = ReleaseDigest::fromHex(version->sha256);
    if (announced.isEmpty() || digest.result() != announced)
        return tr("下载的文件与新版本的校验值不符，已删除");
    if (!ReleaseSignature::verify(announced, ReleaseSignature::fromBase64(version->signature)))
        return tr("新版本的签名无效，下载的文件已删除");
    return QString();
}

void DUpdate::startInstaller()
{
    installing = true;
    const QString dir = QDir::toNativeSeparators(QCoreApplication::applicationDirPath());
    const bool executable = QFile::setPermissions(
        downloadFilePath, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const bool started = executable
        && InstallerLauncher::start(downloadFilePath, { QStringLiteral("/S"), QStringLiteral("/D=") + dir });
    if (started) {
        // The installer runs from the folder after this program has gone.
        downloadDir->setAutoRemove(false);
    } else {
        qCWarning(lcSync) << "update: cannot start" << downloadFilePath;
        DMessageBox::information(this, tr("安装失败"),
            tr("安装新版本时出现错误，软件没有升级成功。您可以登陆Quorvane网站下载最新版本进行更新。"));
    }
    InstallerLauncher::quit();
    accept();
}
