#pragma once

#include <QByteArray>
#include <QFileDevice>
#include <QSqlDatabase>
#include <QString>
#include <QTemporaryDir>
#include <QVariantMap>

// A private program folder for one test: Constants and FileSetting are replaced by instances on
// <tmp>/app (not installed, so books, backups and the INI lie in <tmp>/app/data/). The
// destructor drops them again, so the next TestEnv starts clean.
class TestEnv
{
public:
    TestEnv();
    ~TestEnv();
    TestEnv(const TestEnv&) = delete;
    TestEnv& operator=(const TestEnv&) = delete;

    bool isValid() const { return dir.isValid(); }
    QString root() const { return dir.path(); }
    QString appDir() const;
    QString dataDir() const; // ends with "/"
    QString iniPath() const;

private:
    QTemporaryDir dir;
};

// A fresh copy of the template book opened as the default database connection. DbSetting is
// dropped so that its next use loads this book's row.
class TestBook
{
public:
    explicit TestBook(const QString& path);
    ~TestBook();
    TestBook(const TestBook&) = delete;
    TestBook& operator=(const TestBook&) = delete;

    bool isOpen() const;
    QString path() const { return filePath; }

    // Copies the template book to path, writable by its owner.
    static bool copyTemplate(const QString& path);
    // Opens path as the default connection (closing whatever it held) and forgets every record
    // cache, the bill condition and the month list of the book before.
    static bool openDefault(const QString& path);
    static void resetRecordCaches();
    static void closeDefault();

private:
    QString filePath;
};

// Sets the process's file creation mask while it lives; 0 lets every permission through, as a
// careless session would.
class ScopedUmask {
public:
    explicit ScopedUmask(unsigned mask);
    ~ScopedUmask();
    ScopedUmask(const ScopedUmask&) = delete;
    ScopedUmask& operator=(const ScopedUmask&) = delete;

private:
    unsigned previous;
};

// Every permission of the group and of others: none of them may be set on an owner-only file.
QFileDevice::Permissions groupAndOthers();

// The whole contents of the file at path; empty when it cannot be read.
QByteArray fileBytes(const QString& path);
// Replaces the file at path with bytes; true when all of them were written.
bool writeFile(const QString& path, const QByteArray& bytes);

// Runs one statement on the default connection and returns the first column of its first row.
QVariant scalar(const QString& sql);
// Reads the first column of the first row of sql from the book at path, on a read-only connection
// of its own (the book stays as it is, and no file is created).
QVariant valueIn(const QString& path, const QString& sql);
// True when id has the form of an id the record classes generate: a lower-case UUID without braces.
bool isGeneratedId(const QString& id);
// Runs statements on the default connection; fails the test on the first that fails.
bool execAll(const QStringList& statements);
// Inserts a bill row with SQL (no record class, no signal): the given kind, amount and date (month
// derived), an empty description and the further columns given. Returns the new row's id.
QString addBillRow(const QString& kind, double amount, const QDate& date, const QVariantMap& columns = {});
