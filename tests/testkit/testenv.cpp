#include "testenv.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>
#include <sys/stat.h>

#include "data/constants.h"
#include "data/dbhelper.h"
#include "data/dbsetting.h"
#include "data/filesetting.h"
#include "data/sqlhelper.h"
#include "data/maccount.h"
#include "data/mbill.h"
#include "data/mborrower.h"
#include "data/mcategory.h"
#include "data/mmember.h"

TestEnv::TestEnv()
{
    QDir().mkpath(appDir());
    Constants::Roots roots;
    roots.appDir = appDir();
    roots.installed = false;
    roots.documentsRoot = root() + QStringLiteral("/documents");
    roots.configRoot = root() + QStringLiteral("/config");
    Constants::setInstance(new Constants(roots));
    FileSetting::setInstance(new FileSetting(iniPath()));
}

TestEnv::~TestEnv()
{
    DbSetting::setInstance(nullptr);
    FileSetting::setInstance(nullptr);
    Constants::setInstance(nullptr);
}

QString TestEnv::appDir() const
{
    return root() + QStringLiteral("/app");
}

QString TestEnv::dataDir() const
{
    return appDir() + QStringLiteral("/data/");
}

QString TestEnv::iniPath() const
{
    return dataDir() + QStringLiteral("Quorvane.ini");
}

TestBook::TestBook(const QString& path)
    : filePath(path)
{
    if (copyTemplate(path))
        openDefault(path);
}

TestBook::~TestBook()
{
    DbSetting::setInstance(nullptr);
    closeDefault();
}

bool TestBook::isOpen() const
{
    return QSqlDatabase::database().isOpen();
}

bool TestBook::copyTemplate(const QString& path)
{
    QFile::remove(path);
    QDir().mkpath(QFileInfo(path).absolutePath());
    if (!QFile::copy(QStringLiteral(":/rc/data/init.db"), path))
        return false;
    return QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

bool TestBook::openDefault(const QString& path)
{
    closeDefault();
    DbSetting::setInstance(nullptr);
    // The program's own way, so that tests read the book with the connection settings it uses.
    const bool open = DBHelper::openDefaultConnection(path);
    resetRecordCaches();
    return open;
}

void TestBook::resetRecordCaches()
{
    MAccount::clearCache();
    MBorrower::clearCache();
    MCategory::clearCache();
    MMember::clearCache();
    MBill::resetState();
}

void TestBook::closeDefault()
{
    const QString name = QLatin1String(QSqlDatabase::defaultConnection);
    if (QSqlDatabase::contains(name)) {
        QSqlDatabase::database(name, false).close();
        QSqlDatabase::removeDatabase(name);
    }
}

QFileDevice::Permissions groupAndOthers()
{
    return QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther
        | QFileDevice::WriteOther | QFileDevice::ExeOther;
}

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QVariant scalar(const QString& sql)
{
    return sqlValue(QSqlDatabase::database(), sql, {}, QVariant());
}

bool isGeneratedId(const QString& id)
{
    static const QRegularExpression form(QStringLiteral("^[0-9a-f]{8}(-[0-9a-f]{4}){3}-[0-9a-f]{12}$"));
    return form.match(id).hasMatch();
}

bool execAll(const QStringList& statements)
{
    QSqlQuery query;
    for (const QString& sql : statements) {
        if (!query.exec(sql)) {
            qWarning("statement failed: %s: %s", qPrintable(sql), qPrintable(query.lastError().text()));
            return false;
        }
    }
    return true;
}

QString addBillRow(const QString& kind, double amount, const QDate& date, const QVariantMap& columns)
{
    static int counter = 0;
    const QString id = QStringLiteral("bill-%1").arg(++counter);
    QStringList names = { "id", "kind", "amount", "date", "month", "description" };
    QVariantList values = { id, kind, amount, date.toString(Qt::ISODate), date.year() * 100 + date.month(), "" };
    for (auto it = columns.constBegin(); it != columns.constEnd(); ++it) {
        const int at = names.indexOf(it.key());
        if (at >= 0) {
            values[at] = it.value();
        } else {
            names << it.key();
            values << it.value();
        }
    }
    QSqlQuery query;
    query.prepare(QStringLiteral("insert into tbl_bill (%1) values (%2)")
                      .arg(names.join(','), QStringList(names.size(), QStringLiteral("?")).join(',')));
    for (const QVariant& value : values)
        query.addBindValue(value);
    if (!query.exec())
        qWarning("bill row not written: %s", qPrintable(query.lastError().text()));
    return id;
}

QVariant valueIn(const QString& path, const QString& sql)
{
    QVariant result;
    withBookConnection(path, QStringLiteral("peek"), BookAccess::ReadOnly, [&](QSqlDatabase& db) {
        result = sqlValue(db, sql, {}, QVariant());
        return true;
    });
    return result;
}

ScopedUmask::ScopedUmask(unsigned mask)
    : previous(::umask(mode_t(mask)))
{
}

ScopedUmask::~ScopedUmask()
{
    ::umask(mode_t(previous));
}
