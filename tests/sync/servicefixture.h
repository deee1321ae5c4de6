#pragma once

#include <functional>

#include <QJsonObject>
#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include "serviceprocess.h"
#include "testenv.h"

class PgServer;

// A quorvane-service of the test's own, on a free loopback port, with its store, its config file
// and its request log in a private folder.
//
// The store is chosen by the environment variable QUORVANE_TEST_STORE: "sqlite" (the default), a
// data file in the folder; or "postgresql", a database of its own on a PostgreSQL server that this
// test process starts once for all its services (PgServer).
class ServiceFixture {
public:
    ServiceFixture();
    ~ServiceFixture();
    ServiceFixture(const ServiceFixture&) = delete;
    ServiceFixture& operator=(const ServiceFixture&) = delete;

    // Starts the service (again, on the same store after stop()); false with errorText() when not.
    bool start(const QStringList& arguments = {});
    void stop();
    // The exit code once the service ends within timeoutMs (-1 otherwise: then it is killed).
    int waitForExit(int timeoutMs) { return process.waitForExit(timeoutMs); }
    QString errorText() const { return storeError.isEmpty() ? process.errorText() : storeError; }
    // The service's warnings since the last call.
    QString takeErrorOutput() { return process.takeErrorOutput(); }
    QString baseUrl() const { return process.baseUrl(); }
    qint64 processId() const { return process.processId(); }
    // What the service's --store names: the SQLite file's path, or the PostgreSQL database's URL.
    QString storeLocation() const;
    // The SQLite data file (where the store is one).
    QString dataFile() const;
    QString folder() const { return dir.path(); }
    bool addUser(const QString& name, const QString& password);

    // Whether the tests run on PostgreSQL (QUORVANE_TEST_STORE=postgresql).
    static bool usesPostgreSql();
    // The PostgreSQL server of the store, to stop and start it again; null with SQLite.
    PgServer* pgServer() const;
    // Runs work on a connection to the store (see withServiceStore).
    bool withStore(const QString& baseName, const std::function<bool(QSqlDatabase& db)>& work) const;
    // Points this process's program classes (Constants::getBaseUrl) at the service.
    void useFromProgram() const;

    // The config file, read by the service at every request.
    void setConfig(const QJsonObject& config);
    void setFault(const QString& path, const QJsonObject& fault);
    void clearConfig();

    // The request log: every request since the last clearRequests(), optionally of one path.
    QList<QJsonObject> requests(const QString& path = QString()) const;
    void clearRequests();

private:
    QTemporaryDir dir;
    ServiceProcess process;
    QString database; // the PostgreSQL database of this service, empty with SQLite
    QString storeError;
};

// Runs work on a connection to a service's store, named by location as the service's --store names
// it: an SQLite file (opened read-only) or a postgresql:// URL. False when the store cannot be opened
// or work returns false.
bool withServiceStore(
    const QString& location, const QString& baseName, const std::function<bool(QSqlDatabase& db)>& work);

// A loopback address on which nothing listens: connections to it are refused.
QString refusedBaseUrl();

// The fields of a logged request, in order, as name/value pairs.
QList<QPair<QString, QString>> fieldsOf(const QJsonObject& request);
QString fieldOf(const QJsonObject& request, const QString& name);
// The header names of a logged request, in the order they arrived, and the value of one of them.
QStringList headerNames(const QJsonObject& request);
QString headerValue(const QJsonObject& request, const QString& name);

// Every row of the six synchronised tables (and, with tombstones, of their tombstone tables and the
// settings row), one text each, in a fixed order: what to compare of a book before and after, or of
// two books.
QStringList bookRows(const QSqlDatabase& db, bool withTombstones);
QStringList bookRows(const QString& path, bool withTombstones);

// Runs one synchronisation of the open book with the program's engine and waits for its end.
struct SyncOutcome {
    bool finished = false;
    int code = 0;
    QString message;
};
SyncOutcome runSync(int timeoutMs = 120000);

// Runs quorvane-sync, the engine in a process of its own, on folder/data/book; its exit code, and
// its error output in *output.
int runSyncProcess(const QString& folder, const QString& book, const QStringList& arguments, QString* output);

// A test's own start: a private program folder whose book (default records, open as the default
// connection) has a new account of its own at the service as its sync account, stored as the account
// dialog stores it; the program talks to the service, which has no faults and an empty request log.
class AccountBook {
public:
    explicit AccountBook(ServiceFixture& service, const QString& password = QStringLiteral("secret 1+1"));
    // Waits for a synchronisation still running first, so that it never reaches the next test's book.
    ~AccountBook();

    // False (see errorText()) when the book or the account could not be made.
    bool isReady() const { return error.isEmpty(); }
    QString errorText() const { return error; }
    QString user() const { return name; }
    QString password() const { return secret; }
    QString path() const { return book.path(); }
    const TestEnv& environment() const { return env; }
    // Opens a new book (default records) named fileName beside this one as the default connection,
    // with this book's account as its sync account: another computer of the same household.
    bool openSecondBook(const QString& fileName) const;

private:
    TestEnv env;
    TestBook book;
    QString name;
    QString secret;
    QString error;
};
