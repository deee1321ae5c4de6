#pragma once

#include <QByteArray>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>

// The service's accounts, the records each account synchronises and the feedback it received, in
// one SQLite file that only its owner may read. Records are kept by table and id with the columns
// they arrived with; versions are compared as texts, as the clients compare them.
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
    // the records the client has not seen since syncTime, as the reply's JSON text. On a bad change
    // set nothing is stored and failure says why.
    bool synchronise(qint64 account, const QString& syncTime, const QString& clientTime, const QString& data,
        QByteArray* reply, Failure* failure);

    bool addFeedback(const QString& email, const QString& subject, const QString& content);

    // The synchronised tables in the order replies list them, and the columns each may carry, in the
    // order rows are sent.
    static const QStringList& tableNames();
    static const QStringList& columnsOf(const QString& table);

private:
    QSqlDatabase database() const;

    QString connectionName;
    QString filePath;
};
