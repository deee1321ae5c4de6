#pragma once

#include <QDateTime>
#include <QJsonArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>

class HttpHelper;
class QSqlError;

// The two-way synchronisation of the open book with the user's account at the web service. A run
// backs the book up, asks once for the account's user id (giving the default records the account's
// ids), uploads every row and deletion since the last run as one JSON change set and merges what the
// service sends back, the later version winning. One run at a time.
class SyncHelper : public QObject {
    Q_OBJECT

public:
    static SyncHelper* getInstance();

    // Starts a run on the open book. While one is under way another is refused: false, and nothing
    // is emitted (the running one's end reaches every listener).
    bool sync();
    bool isRunning() const { return running; }

    // The clock a run reads its start (the book's next sync time) and the client time it reports
    // from: UTC now, unless a test runs a clock of its own (with the books' version stamps, which
    // SQLite takes, on the same clock). An empty function restores the system's.
    static void setClock(std::function<QDateTime()> clock);

signals:
    void syncLog(const QString& text);
    void syncProgress(float value);
    void syncError(int code, const QString& message);
    void syncStarted();
    void syncFinished();

private slots:
    void downloadTokenHtml(const QString& text);
    void downloadHtml(const QString& text);
    void downloadError();

private:
    explicit SyncHelper(QObject* parent = nullptr);

    void requestUserId();
    void uploadData();
    HttpHelper* newRequest();
    void releaseRequest();
    // Gives the default records (two-character ids) the account's prefix and stores the user id, all
    // or nothing.
    bool migrateIds(const QString& userId);
    // Every row and deletion since the last run, per table; false when the book could not be read.
    bool changeSet(QJsonArray* changes) const;
    // Merges the service's tables into the book in one transaction; false when it had to be rolled
    // back.
    bool applyChanges(const QJsonArray& reply);
    bool applyTable(const QJsonObject& table);
    bool restoreReferencedRows(const QString& name);
    // A statement failed: true when the book itself is in trouble (locked, full, unwritable) and the
    // run must be undone, false when only that row is at fault and is skipped.
    static bool isFatal(const QSqlError& error);
    void fail(int code, const QString& message);
    // Ends the run with syncError once the event loop runs again.
    void failLater(int code, const QString& message);
    static QString unreadableBook();

    QDateTime lastSyncTime;
    QStringList tables;
    HttpHelper* http = nullptr;
    QDateTime startTime;
    bool running = false;
};
