#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>

// The open book's settings row (tbl_setting): sync account, login password, schema version and
// the time of the last synchronisation. Loaded once; setters change memory until save().
class DbSetting : public QObject
{
    Q_OBJECT

public:
    // Loads the first row of tbl_setting from the default database connection.
    explicit DbSetting(QObject* parent = nullptr);

    static DbSetting* getInstance();
    // Replaces the process-wide instance (tests open books of their own). Takes ownership; null
    // makes the next getInstance() load the row again.
    static void setInstance(DbSetting* instance);

    QString getUserId() const { return userId; }
    QString getUsername() const { return username; }
    QString getPassword() const { return password; }
    QString getSyncUsername() const { return syncUsername; }
    QString getSyncPassword() const { return syncPassword; }
    int getVersion() const { return version; }
    QDateTime getSyncTime() const { return syncTime; }
    // A sync account is configured when both its name and its password are set.
    bool hasSyncAccount() const { return !syncUsername.isEmpty() && !syncPassword.isEmpty(); }
    // False when the book had no settings row to load.
    bool hasRow() const { return rowLoaded; }

    void setUserId(const QString& value) { userId = value; }
    void setUsername(const QString& value) { username = value; }
    void setPassword(const QString& value) { password = value; }
    void setSyncUsername(const QString& value) { syncUsername = value; }
    void setSyncPassword(const QString& value) { syncPassword = value; }
    void setVersion(int value) { version = value; }
    // What a synchronisation has just stored in the book (save() never writes it).
    void setSyncTime(const QDateTime& value) { syncTime = value; }

    // Writes the six columns (not sync_time, not salt) to the row. False when the statement fails
    // or the book has no settings row to write.
    bool save();

private:
    QString userId;
    QString username;
    QString password;
    QString syncUsername;
    QString syncPassword;
    int version = 0;
    QDateTime syncTime;
    bool rowLoaded = false;
};

// The stored form of a password: five hex digits, the password's UTF-8 bytes XOR'd with a fixed
// key and carried as Latin-1 characters, five hex digits. The ten digits are the first and last
// five of the MD5 of the middle part.
QString scramblePassword(const QString& password);
// The password of a stored form, or "" when the stored form is missing, short or tampered with.
QString unscramblePassword(const QString& stored);
QString md5Hex(const QString& text);
QByteArray xorBytes(const QByteArray& bytes, char key);
QByteArray toUtf8Bytes(const QString& text);
QString fromUtf8Bytes(const QByteArray& bytes);

// Time stamps of the book: "yyyy-MM-dd hh:mm:ss", read with or without milliseconds. Anything
// else reads as an invalid date-time.
QDateTime timestampFromText(const QString& text);
QString timestampToText(const QDateTime& time);
