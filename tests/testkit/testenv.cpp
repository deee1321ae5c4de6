#include "testenv.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>
#include <algorithm>
#include <csignal>
#include <sys/fsuid.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

#include "data/bookfile.h"
#include "data/booklock.h"
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
    // A book of this folder held as the open book (after a restore or an import) goes with it.
    BookLock::releaseOpenBook();
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
    BookFile::removeLeftovers(path);
    QDir().mkpath(QFileInfo(path).absolutePath());
    return BookFile::create(path, nullptr, BookFile::Contents::TemplateOnly);
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

bool bookFromScript(const QString& path, const QString& scriptPath)
{
    QFile file(scriptPath);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QStringList statements;
    for (const QString& chunk : QString::fromUtf8(file.readAll()).split(QStringLiteral("\n\n"))) {
        QStringList lines = chunk.split(QLatin1Char('\n'));
        lines.erase(std::remove_if(lines.begin(), lines.end(), [](const QString& l) { return l.startsWith("--"); }),
            lines.end());
        const QString statement = lines.join(QLatin1Char('\n')).trimmed();
        if (!statement.isEmpty())
            statements << statement;
    }
    return withBookConnection(path, QStringLiteral("script"), BookAccess::ReadWrite, [&](QSqlDatabase& db) {
        QSqlQuery query(db);
        for (const QString& statement : std::as_const(statements)) {
            if (!query.exec(statement)) {
                qWarning("statement failed: %s: %s", qPrintable(statement), qPrintable(query.lastError().text()));
                return false;
            }
        }
        return true;
    });
}

AsOrdinaryUser::AsOrdinaryUser()
    : active(::geteuid() == 0)
{
    if (active)
        ::setfsuid(65534);
}

AsOrdinaryUser::~AsOrdinaryUser()
{
    if (active)
        ::setfsuid(0);
}

BookHolder::BookHolder(const QString& driver, const QString& bookPath)
{
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(driver, { QStringLiteral("--hold"), bookPath });
    if (!process.waitForStarted(30000))
        return;
    QByteArray said;
    while (!said.contains('\n') && process.waitForReadyRead(30000))
        said += process.readAll();
    holding = said.startsWith("HELD");
}

BookHolder::~BookHolder()
{
    // The other program ends when its input does, and gives up the lock.
    process.closeWriteChannel();
    if (!process.waitForFinished(30000))
        process.kill();
    process.waitForFinished(30000);
}

void BookHolder::kill()
{
    process.kill();
    process.waitForFinished(30000);
    holding = false;
}

FullDisk::FullDisk(const QString& path)
    : folder(path)
{
    mounted
        = ::mount("tmpfs", QFile::encodeName(folder).constData(), "tmpfs", MS_NOSUID | MS_NODEV, "size=4m,mode=0700")
        == 0;
}

FullDisk::~FullDisk()
{
    release();
    if (mounted)
        ::umount2(QFile::encodeName(folder).constData(), MNT_DETACH);
}

bool FullDisk::fill()
{
    if (mounted) {
        // A file as large as the room left, then small ones for the last blocks.
        QFile filler(folder + QStringLiteral("/.filler"));
        if (!filler.open(QIODevice::WriteOnly))
            return false;
        const QByteArray block(64 * 1024, 'f');
        while (filler.write(block) == block.size() && filler.flush()) { }
        const QByteArray byte(1, 'f');
        while (filler.write(byte) == 1 && filler.flush()) { }
        return true;
    }
    // Beyond the limit, a write fails (with SIGXFSZ ignored) as on a full disk.
    struct rlimit limit = {};
    if (::getrlimit(RLIMIT_FSIZE, &limit) != 0)
        return false;
    previousLimit = limit.rlim_cur;
    std::signal(SIGXFSZ, SIG_IGN);
    limit.rlim_cur = 1024;
    limited = ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
    return limited;
}

void FullDisk::release()
{
    if (mounted)
        QFile::remove(folder + QStringLiteral("/.filler"));
    if (limited) {
        struct rlimit limit = {};
        ::getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = rlim_t(previousLimit);
        ::setrlimit(RLIMIT_FSIZE, &limit);
        limited = false;
    }
}
