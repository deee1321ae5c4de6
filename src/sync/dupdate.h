#pragma once

#include <QDialog>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QString>
#include <QUrl>
#include <memory>

#include "engine/releasedigest.h"

class MVersion;
class QFile;
class QTemporaryDir;

namespace Ui {
class DUpdate;
}

// The software update: shows a release's notes and, on "立即升级", downloads its installer, first
// from the release's direct address, then from the link found on its cloud-disk page. A file big
// enough to be the installer is hashed as it arrives; only when its digest is the one the release's
// record names and that digest carries the release key's signature is it made executable and
// started, and the program ends. A file that fails the check is removed and the download ends with
// "下载失败". Cancelling or closing the dialog stops the download for good.
class DUpdate : public QDialog {
    Q_OBJECT

public:
    DUpdate(QWidget* parent, MVersion* version);
    ~DUpdate() override;

    // The first capture group of the leftmost match of pattern (case-insensitive, every quantifier
    // non-greedy) in html, read as HTML: tags dropped, entities decoded. Empty without a match.
    static QString getDownloadLink(const QString& html, const QString& pattern);

    // The smallest file taken for the installer; a smaller one counts as a failed download.
    static constexpr qint64 minimumInstallerSize = 0x500000;
    // Redirections followed within one download step before it counts as failed.
    static constexpr int maximumRedirects = 10;

public slots:
    void downloadProgress(qint64 bytesReceived, qint64 bytesTotal);
    void downloadFinished();
    // Writes what has arrived of the installer to its file and adds it to the digest; the body of a
    // redirection or of an error goes nowhere.
    void downloadReadyRead();
    void cancelDownload();
    void startlDownload();
    void panHtmlDownloaded(const QString& html);

protected:
    // Every way of ending the dialog (取消, the title strip, Escape) also ends the download.
    void done(int result) override;
    void paintEvent(QPaintEvent* event) override;

private slots:
    void on_pbUpdate_clicked();
    void on_pbCancel_clicked();
    void on_pbCancel_2_clicked();

private:
    // Moves on to the next download step, requesting address instead of the step's own when given.
    void nextSource(const QUrl& address = QUrl());
    // The current step failed with errorText: the first step moves on silently, later ones end the
    // chain with "下载失败".
    void failAttempt(const QString& errorText);
    void failAttemptLater(const QString& errorText);
    // Ends the chain at any step: "下载失败" with errorText, and the page says so.
    void endChain(const QString& errorText);
    // Closes the file being written; false when not all of the body got there.
    bool closeDownloadFile();
    // Removes the file of the current attempt.
    void discardDownload();
    // Empty when the downloaded file is the release its record names, signed with the release key;
    // otherwise why it is not.
    QString checkDownload() const;
    void startInstaller();
    QString newDownloadFilePath();

    Ui::DUpdate* ui;
    QNetworkAccessManager manager;
    QNetworkReply* reply = nullptr;
    bool cancelled = false;
    QString downloadFilePath;
    MVersion* version;
    int source = 0;
    QUrl downloadUrl;

    // The private folder the downloads go to; created with the first download.
    std::unique_ptr<QTemporaryDir> downloadDir;
    int redirects = 0;
    // The file of the current attempt, open while the installer arrives, and its digest so far.
    std::unique_ptr<QFile> downloadFile;
    ReleaseDigest digest;
    bool writeFailed = false;
    // The installer has been handed over: closing the dialog no longer cancels anything.
    bool installing = false;
};
