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
    // Redirections come back as answers and are followed in downloadFinished(), so that none of
    // their bodies is kept.
    reply = manager.get(HttpHelper::makeRequest(address, "deflate"));
    connect(reply, &QNetworkReply::finished, this, &DUpdate::downloadFinished);
    connect(reply, &QNetworkReply::downloadProgress, this, &DUpdate::downloadProgress);
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
    DMessageBox::information(this, tr("下载失败"), tr("下载文件时出现错误: %1").arg(errorText));
    // The chain has ended: the page no longer says it is downloading.
    ui->lblDownloadStatus->setText(tr("下载失败"));
}

void DUpdate::failAttemptLater(const QString& errorText)
{
    // As a failed request would: after the current step has returned.
    QTimer::singleShot(0, this, [this, errorText] { failAttempt(errorText); });
}

bool DUpdate::saveDownload(QNetworkReply* finished)
{
    // A file of its own in the private folder, never one that was already there.
    QFile file(downloadFilePath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        qCWarning(lcSync) << "update: cannot create" << downloadFilePath << file.errorString();
        return false;
    }
    const QByteArray body = finished->readAll();
    const bool written = file.write(body) == body.size() && file.flush();
    file.close();
    if (!written)
        file.remove();
    return written;
}

void DUpdate::downloadFinished()
{
    QNetworkReply* finished = reply;
    reply = nullptr;
    finished->deleteLater();
    if (cancelled)
        return;

    const QUrl target = finished->attribute(QNetworkRequest::RedirectionTargetAttribute).toUrl();
    if (!target.isEmpty()) {
        if (++redirects > maximumRedirects) {
            failAttempt(tr("重定向次数过多"));
            return;
        }
        downloadUrl = finished->url().resolved(target);
        startlDownload();
        return;
    }

    if (finished->error() != QNetworkReply::NoError) {
        failAttempt(finished->errorString());
        return;
    }
    if (!saveDownload(finished) || QFileInfo(downloadFilePath).size() < minimumInstallerSize) {
        QFile::remove(downloadFilePath);
        nextSource();
        return;
    }
    DMessageBox::information(this, tr("下载成功"), tr("下载成功，软件将自动重启并完成升级。"));
    startInstaller();
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
