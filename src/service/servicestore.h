#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <memory>

// The service's accounts, the records each account synchronises and the feedback it received, in an
// SQLite file that only its owner may read or in a PostgreSQL database (see StoreDialect). Records are kept by table and id with the columns
// they arrived with; versions are compared as texts, as the clients compare them. Every public
// function may be called from several threads at once: each thread works on a connection of its
// own, made on its first call and removed when the thread ends.
//
// What a device has not seen yet is decided by the service's own bookkeeping, never by comparing the
// two clocks: every change to an account's records is stamped with the account's change sequence,
// which only grows, and every answered run keeps the sequence it was answered at, found again by the
// sync time the device sends next (that run's start, on the device's clock).
class ServiceStore {
public:
    // The error codes of the service's JSON error replies.
    enum ErrorCode { BadCredentials = 1, BadData = 2, BadNames = 4, StorageFailed = 5 };
    struct Failure {
        int code = 0;
        QString message;
    };

    ServiceStore();
    ~ServiceStore();
    ServiceStore(const ServiceStore&) = delete;
    ServiceStore& operator=(const ServiceStore&) = delete;

    // Opens the store at location: an SQLite file (created owner-only when it is not there) or a
    // postgresql:// URL. The store sets up its schema on an empty database and brings an older one
    // up to date.
    bool open(const QString& location, QString* error);
    // The store opened: the file as an absolute path, or the URL without its password.
    QString path() const;

    // Creates an account with a salted hash of password; refused when the name is empty or taken.
    bool addUser(const QString& name, const QString& password, QString* error);
    // The account's user id (and its number in *account), or "" when the name and password do not
    // match an account or the store cannot be read (then *failure, when given, says so).
    QString authenticate(
        const QString& name, const QString& password, qint64* account = nullptr, Failure* failure = nullptr) const;

    // Merges a client's change set (the "data" field) into the account's records and answers with
    // the records the client has not seen since its run that started at syncTime, as the reply's JSON
    // text; clientTime is the client's clock now. On a bad change set nothing is stored and failure
    // says why; a store that fails half-way keeps nothing of the request either. data is the UTF-8
    // JSON text of the change set; merges of one account wait for each other, in every process that
    // uses the store.
    bool synchronise(qint64 account, const QString& syncTime, const QString& clientTime, const QByteArray& data,
        QByteArray* reply, Failure* failure);

    bool addFeedback(const QString& email, const QString& subject, const QString& content);

    // Whether the store answers a trivial query now (a lost connection is made again for it).
    bool isAvailable() const;
    // Whether the store can take a write now: room on an SQLite file's file system, a row that a
    // PostgreSQL database takes (and is given back at once).
    bool isWritable() const;
    // Forgets the runs the store received before cutoff, keeping for each account what replies to
    // its devices still need of them (one row), so that the runs do not pile up for ever.
    bool forgetRunsBefore(const QDateTime& cutoff);

    // The synchronised tables in the order replies list them, and the columns each may carry, in the
    // order rows are sent.
    static const QStringList& tableNames();
    static const QStringList& columnsOf(const QString& table);

    struct Shared;

private:
    enum class Attempt { Done, Failed, FailedFirst };

    // This thread's connection, opened on first use and opened again when it was lost.
    QSqlDatabase database() const;
    // Runs work(db, &attempt) on this thread's connection: once more on a new connection when the
    // first statement failed (attempt FailedFirst) because the connection was lost.
    template <typename Work>
    auto withConnection(Work work) const;
    // Runs the schema script's steps the store lacks.
    bool setUpSchema(QSqlDatabase& db, QString* error);
    // Adds the columns that SQLite files from before the schema's versions lack.
    static bool addMissingColumns(QSqlDatabase& db, QString* error);
    // The change sequence up to which the device has seen the account's records, or -1 when the
    // service cannot tell (every record is sent then). False when the store cannot be read.
    bool seenSequence(
        QSqlDatabase& db, qint64 account, const QString& syncTime, const QString& clientTime, qint64* seen) const;

    std::shared_ptr<Shared> shared;
};
