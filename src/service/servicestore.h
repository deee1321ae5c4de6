#pragma once

#include <QByteArray>
#include <QMutex>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>

// The service's accounts, the records each account synchronises and the feedback it received, in
// one SQLite file that only its owner may read. Records are kept by table and id with the columns
// they arrived with; versions are compared as texts, as the clients compare them.
//
// What a device has not seen yet is decided by the service's own bookkeeping, never by comparing the
// two clocks: every change to an account's records is stamped with the account's change sequence,
// which only grows, and every answered run keeps the sequence it was answered at, found again by the
// sync time the device sends next (that run's start, on the device's clock).
class QThread;

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

    // Opens (or creates, owner-only) the service file at path.
    bool open(const QString& path, QString* error);
    // The file opened, as an absolute path.
    QString path() const { return filePath; }

    // Creates an account with a salted hash of password; refused when the name is empty or taken.
    bool addUser(const QString& name, const QString& password, QString* error);
    // The account's user id (and its number in *account), or "" when the name and password do not
    // match an account.
    QString authenticate(const QString& name, const QString& password, qint64* account = nullptr) const;

    // Merges a client's change set (the "data" field) into the account's records and answers with
    // the records the client has not seen since its run that started at syncTime, as the reply's JSON
    // text; clientTime is the client's clock now. On a bad change set nothing is stored and failure
    // says why.
    bool synchronise(qint64 account, const QString& syncTime, const QString& clientTime, const QByteArray& data,
        QByteArray* reply, Failure* failure);

    bool addFeedback(const QString& email, const QString& subject, const QString& content);
    // Whether the store answers a trivial query.
    bool isAvailable() const;

    // The synchronised tables in the order replies list them, and the columns each may carry, in the
    // order rows are sent.
    static const QStringList& tableNames();
    static const QStringList& columnsOf(const QString& table);

private:
    QSqlDatabase database() const;
    // Adds what an older service file lacks.
    bool upgrade(QString* error);
    // The change sequence up to which the device has seen the account's records, or -1 when the
    // service cannot tell (every record is sent then). False when the store cannot be read.
    bool seenSequence(qint64 account, const QString& syncTime, const QString& clientTime, qint64* seen) const;

    QString connectionName;
    QString filePath;
    // The thread that opened the store, and the connections made for other threads.
    QThread* openedBy = nullptr;
    mutable QMutex threadConnectionsMutex;
    mutable QStringList threadConnections;
};
