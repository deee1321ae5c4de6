#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>
#include <vector>

class QObject;

// The load test's devices: each holds a book in the form the synchronisation sends it (the six tables'
// columns and rows as texts), changes a few bills, and synchronises through the program's own HTTP
// helper with the very form the program posts, keeping what the service acknowledged so that the end
// of the run can compare it with what the service holds.

// One synchronised table as the client sends it: columns without "user_id", rows of texts by id.
struct SyncTable {
    QString name;
    QStringList columns;
    QList<QString> ids;
    QHash<QString, QStringList> rows;
    QHash<QString, QString> deletions;
};
using SyncTables = QList<SyncTable>;

// Every row and deletion of the six synchronised tables of a book with a version from since on (what
// a synchronisation after since uploads), each cell as the program's upload writes it.
bool readBookTables(const QString& path, const QString& since, SyncTables* tables, QString* error);
// The sync time of a book that was never synchronised: its first synchronisation sends everything
// from then on.
extern const char* const neverSynchronised;
// The change set (the form's "data" field) of those tables: every row and deletion they hold.
QByteArray changeSetText(const SyncTables& tables);
// Reads a reply that is a change set into tables by name (rows and deletions; cells by the columns of
// columnsLike, missing ones empty); false when it is none (an error object, or no JSON at all).
bool readChangeSet(const QByteArray& text, const SyncTables& columnsLike, SyncTables* tables);

// "yyyy-MM-dd hh:mm:ss" in UTC, as the program stamps versions and sync times.
QString timestampText(const QDateTime& time);

// The outcome of one request, its start and end in ms from the start of the load.
struct RequestRecord {
    qint64 startMs = 0;
    qint64 endMs = 0;
    bool ok = false;
};

// What all devices share: where the service is, the clock of the load and when to stop.
struct LoadShared {
    QString baseUrl;
    // ms since the load started, from one timer shared by all threads.
    std::function<qint64()> elapsedMs;
    std::atomic<bool> stop { false };
};

class LoadDevice {
public:
    // The device's book is base (shared by every device; it never changes), its account name and password.
    LoadDevice(const SyncTables* base, const QString& user, const QString& password, LoadShared* shared);

    // Runs in the thread of context (whose event loop drives the requests). done is called there.
    // setUp: asks for the user id and uploads the whole book (the first synchronisation).
    void setUp(QObject* context, const std::function<void(bool ok, const QString& error)>& done);
    // Until shared->stop: a few changes, a synchronisation, again; every request recorded.
    void runLoad(QObject* context, const std::function<void()>& done);
    // One more synchronisation of whatever is still unacknowledged, retried a few times.
    void finalSync(QObject* context, const std::function<void(bool ok)>& done);
    // Asks for every record of the account as a new device does, and compares it with this book.
    struct Comparison {
        bool fetched = false;
        int rows = 0;
        int missing = 0;
        int different = 0;
        int extra = 0;
        int revived = 0;
        QStringList examples;
    };
    void compareWithService(QObject* context, const std::function<void(const Comparison&)>& done);

    const std::vector<RequestRecord>& records() const { return requests; }
    int changesMade() const { return changes; }

private:
    void loadStep(QObject* context, const std::function<void()>& done);
    void makeChanges();
    QByteArray pendingChangeSet() const;
    // Takes the service's reply: newer rows and deletions win over the book's.
    void apply(const SyncTables& reply);
    QString currentVersion(const QString& id) const;
    void sync(QObject* context, const QString& syncTime, const QByteArray& data,
        const std::function<void(bool ok, const QByteArray& reply)>& done);
    void retryFinal(QObject* context, int attempt, const std::function<void(bool ok)>& done);

    const SyncTables* base;
    QString user;
    QString password;
    LoadShared* shared;
    int billTable = 0;
    int idColumn = 0;
    int amountColumn = 0;
    int descriptionColumn = 0;
    int versionColumn = 0;

    // The book: the base book's bills changed or added, and bills deleted, by id.
    QHash<QString, QStringList> bills;
    QHash<QString, QString> deleted;
    // Changed since the last acknowledged synchronisation.
    QSet<QString> pendingRows;
    QSet<QString> pendingDeletions;
    // Start of the last synchronisation the service answered (the device's next sync time).
    QString lastSyncTime;
    int nextBill = 0;
    int changes = 0;
    int step = 0;
    std::vector<RequestRecord> requests;
};
