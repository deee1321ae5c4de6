#include "data/dbsetting.h"
#include "data/logging.h"

#include <QCryptographicHash>
#include <QDebug>
#include <QSqlError>
#include <QSqlQuery>

namespace {

DbSetting* instance = nullptr;

// The scrambling key of both password columns; books of every installation share it.
const char passwordKey = 'Q';

} // namespace

DbSetting::DbSetting(QObject* parent)
    : QObject(parent)
{
    QSqlQuery query;
    if (!query.exec(QStringLiteral(
            "select user_id, username,password, sync_username,sync_password,version,sync_time from tbl_setting"))) {
        qCWarning(lcSql) << "DbSetting: cannot read tbl_setting:" << query.lastError().text();
        return;
    }
    if (!query.next())
        return;
    rowLoaded = true;
    userId = query.value(0).toString();
    username = query.value(1).toString();
    password = unscramblePassword(query.value(2).toString());
    syncUsername = query.value(3).toString();
    syncPassword = unscramblePassword(query.value(4).toString());
    version = query.value(5).toInt();
    syncTime = timestampFromText(query.value(6).toString());
}

DbSetting* DbSetting::getInstance()
{
    if (!instance)
        instance = new DbSetting(nullptr);
    return instance;
}

void DbSetting::setInstance(DbSetting* newInstance)
{
    if (instance == newInstance)
        return;
    delete instance;
    instance = newInstance;
}

bool DbSetting::save()
{
    QSqlQuery query;
    query.prepare(QStringLiteral(
        "update tbl_setting set user_id=?, username=?,password=?, sync_username=?,sync_password=?,version=?"));
    query.addBindValue(userId);
    query.addBindValue(username);
    query.addBindValue(scramblePassword(password));
    query.addBindValue(syncUsername);
    query.addBindValue(scramblePassword(syncPassword));
    query.addBindValue(version);
    if (!query.exec()) {
        qCWarning(lcSql) << "DbSetting: cannot write tbl_setting:" << query.lastError().text();
        return false;
    }
    return query.numRowsAffected() > 0;
}

QByteArray toUtf8Bytes(const QString& text)
{
    if (text.isEmpty())
        return QByteArray();
    return text.toUtf8();
}

QString fromUtf8Bytes(const QByteArray& bytes)
{
    if (bytes.isEmpty())
        return QString();
    return QString::fromUtf8(bytes);
}

QByteArray xorBytes(const QByteArray& bytes, char key)
{
    QByteArray result = bytes;
    for (char& byte : result)
        byte = static_cast<char>(byte ^ key);
    return result;
}

QString md5Hex(const QString& text)
{
    return QString::fromLatin1(QCryptographicHash::hash(text.toLatin1(), QCryptographicHash::Md5).toHex());
}

QString scramblePassword(const QString& password)
{
    // Latin-1 carries every XOR'd byte unchanged, so passwords outside ASCII come back whole; for
    // ASCII this is the same text as XOR-ing the characters.
    const QString scrambled = QString::fromLatin1(xorBytes(toUtf8Bytes(password), passwordKey));
    const QString hash = md5Hex(scrambled);
    return hash.left(5) + scrambled + hash.right(5);
}

QString unscramblePassword(const QString& stored)
{
    if (stored.size() < 10)
        return QString();
    const QString scrambled = stored.mid(5, stored.size() - 10);
    for (const QChar c : scrambled) {
        if (c.unicode() > 0xFF)
            return QString();
    }
    const QString hash = md5Hex(scrambled);
    if (!hash.startsWith(stored.left(5), Qt::CaseSensitive) || !hash.endsWith(stored.right(5), Qt::CaseSensitive))
        return QString();
    const QByteArray bytes = xorBytes(scrambled.toLatin1(), passwordKey);
    const QString password = fromUtf8Bytes(bytes);
    // Bytes that are not UTF-8 cannot be a password this program stored.
    if (toUtf8Bytes(password) != bytes)
        return QString();
    return password;
}

QDateTime timestampFromText(const QString& text)
{
    // The stamps are SQLite's CURRENT_TIMESTAMP texts, which are UTC; read them as written.
    const QString trimmed = text.trimmed();
    if (trimmed.size() < 19 || (trimmed.at(10) != QLatin1Char(' ') && trimmed.at(10) != QLatin1Char('T')))
        return QDateTime();
    const QDate date = QDate::fromString(trimmed.left(10), QStringLiteral("yyyy-MM-dd"));
    const QString timeText = trimmed.mid(11);
    QTime time = QTime::fromString(timeText, QStringLiteral("hh:mm:ss"));
    if (!time.isValid())
        time = QTime::fromString(timeText, QStringLiteral("hh:mm:ss.zzz"));
    if (!date.isValid() || !time.isValid())
        return QDateTime();
    return QDateTime(date, time, Qt::UTC);
}

QString timestampToText(const QDateTime& time)
{
    return time.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}
