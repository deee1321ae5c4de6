#pragma once

#include <QByteArray>
#include <QFileDevice>
#include <QProcess>
#include <QSqlDatabase>
#include <QString>
#include <QTemporaryDir>
#include <QVariantMap>

#include "data/scopedumask.h"

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

    // Makes path a copy of the template book (without the default records), writable by its owner
    // alone; a file there before is replaced.
    static bool copyTemplate(const QString& path);
    // Opens path as the default connection (closing whatever it held) and forgets every record
    // cache, the bill condition and the month list of the book before.
    static bool openDefault(const QString& path);
    static void resetRecordCaches();
    static void closeDefault();

private:
    QString filePath;
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

// Makes path a book from an SQL script (statements separated by blank lines, "--" lines left out),
// as an older program left it; path must be free. False when a statement fails.
bool bookFromScript(const QString& path, const QString& scriptPath);

// Checks file access as an ordinary user would meet it, also when the tests run as root, whom no
// permission stops: this thread's file access then has the rights of "nobody".
class AsOrdinaryUser {
public:
    AsOrdinaryUser();
    ~AsOrdinaryUser();
    AsOrdinaryUser(const AsOrdinaryUser&) = delete;
    AsOrdinaryUser& operator=(const AsOrdinaryUser&) = delete;

private:
    bool active;
};

// Another running program that holds a book's lock, as a second copy of the program does while the
// book is open in it: quorvane-bookdriver --hold, until this object goes.
class BookHolder {
public:
    BookHolder(const QString& driver, const QString& bookPath);
    ~BookHolder();
    BookHolder(const BookHolder&) = delete;
    BookHolder& operator=(const BookHolder&) = delete;

    // True once the other program holds the lock.
    bool isHolding() const { return holding; }
    // Ends the other program as a crash would (SIGKILL): its lock file stays behind.
    void kill();

private:
    QProcess process;
    bool holding = false;
};

// A folder on a disk that has no room left, for the tests of a full disk: a small tmpfs mounted on
// it where the system allows that (root with the right to mount), otherwise the process's file size
// limit, under which every write past a few bytes fails. Files written before fill() stay readable;
// the mount goes with this object.
class FullDisk {
public:
    // folder must exist; a mount hides what it held.
    explicit FullDisk(const QString& folder);
    ~FullDisk();
    FullDisk(const FullDisk&) = delete;
    FullDisk& operator=(const FullDisk&) = delete;

    // Takes the room that is left. False when the disk could not be made full.
    bool fill();
    // Gives the room back.
    void release();
    // A real disk of its own (tmpfs): the program can see that it is full.
    bool isMounted() const { return mounted; }

private:
    QString folder;
    bool mounted = false;
    bool limited = false;
    unsigned long long previousLimit = 0;
};
