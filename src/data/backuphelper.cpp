#include "data/backuphelper.h"

#include <algorithm>
#include <memory>

#include <QDateTime>
#include <QFile>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSignalBlocker>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryFile>

#include "data/bookfile.h"
#include "data/booklock.h"
#include "data/constants.h"
#include "data/dbhelper.h"
#include "data/filesetting.h"
#include "data/logging.h"
#include "data/maccount.h"
#include "data/mbill.h"
#include "data/mborrower.h"
#include "data/mcategory.h"
#include "data/mmember.h"
#include "data/notifier.h"
#include "data/scopedumask.h"
#include "data/settingkeys.h"
#include "data/sqlhelper.h"
#include "data/sqltransaction.h"

namespace {

const char* const NeverSynchronised = "2008-08-08 08:08:08";

// The synchronised tables of a book; each has a tombstone table "<name>_deleted".
const char* const BookTables[]
    = { "tbl_account", "tbl_bill", "tbl_borrower", "tbl_category", "tbl_member", "tbl_sub_category" };

QString currentBookPath()
{
    Constants* constants = Constants::getInstance();
    return constants->getDbDir() + constants->getBookName();
}

// True when SQLite finds the whole file on db sound. It reads every page: through a memory map
// that takes half the time of a copy of each page into SQLite's cache.
bool isSound(const QSqlDatabase& db)
{
    // (A file that is no database refuses this as well; the check then says so.)
    QSqlQuery(db).exec(QStringLiteral("pragma mmap_size=268435456"));
    return sqlValue(db, QStringLiteral("pragma quick_check"), {}, QString()).toString() == QLatin1String("ok");
}

// Opens path read-only and asks check of it, once SQLite has found the file whole: a text file, a
// truncated book or a damaged one is refused before anything looks at its tables.
bool checkFile(const QString& path, const std::function<bool(QSqlDatabase& db)>& check)
{
    if (!QFileInfo(path).isFile())
        return false;
    return withBookConnection(path, QStringLiteral("backup-check"), BookAccess::ReadOnly,
        [&check](QSqlDatabase& db) { return isSound(db) && check(db); });
}

int tableCount(const QSqlDatabase& db, const QString& condition)
{
    return sqlValue(db, QStringLiteral("select count(*) from sqlite_master where type='table' and ") + condition, {}, 0)
        .toInt();
}

QStringList columnsOf(const QSqlDatabase& db, const QString& table)
{
    QStringList columns;
    QSqlQuery query(db);
    query.prepare(QStringLiteral("select name from pragma_table_info(?)"));
    query.addBindValue(table);
    if (query.exec()) {
        while (query.next())
            columns << query.value(0).toString();
    }
    return columns;
}

// The columns of the tables that hold a book's settings and records, as the template has them.
const QHash<QString, QStringList>& recordColumns()
{
    static const QHash<QString, QStringList> columns = [] {
        QHash<QString, QStringList> read;
        const std::unique_ptr<QTemporaryFile> copy(
            QTemporaryFile::createNativeFile(QStringLiteral(":/rc/data/init.db")));
        if (!copy)
            return read;
        withBookConnection(
            copy->fileName(), QStringLiteral("template"), BookAccess::ReadOnly, [&read](QSqlDatabase& db) {
                for (const char* table : BookTables)
                    read.insert(QLatin1String(table), columnsOf(db, QLatin1String(table)));
                read.insert(QStringLiteral("tbl_setting"), columnsOf(db, QStringLiteral("tbl_setting")));
                return true;
            });
        return read;
    }();
    return columns;
}

// Every table of the settings and the records with every column a book has: a file that lost one
// would replace a sound book with one the program cannot open or use.
bool hasBookColumns(const QSqlDatabase& db)
{
    const QHash<QString, QStringList>& wanted = recordColumns();
    if (wanted.isEmpty())
        return false;
    for (auto table = wanted.constBegin(); table != wanted.constEnd(); ++table) {
        const QStringList columns = columnsOf(db, table.key());
        for (const QString& column : table.value()) {
            if (!columns.contains(column, Qt::CaseInsensitive))
                return false;
        }
    }
    return true;
}

bool hasObject(const QSqlDatabase& db, const QString& name)
{
    return sqlValue(db, QStringLiteral("select count(*) from sqlite_master where name=?"), { name }, 0).toInt() > 0;
}

QString currentBookFileName()
{
    return Constants::getInstance()->getBookName();
}

bool refuse(QString* reason, const QString& text)
{
    if (reason)
        *reason = text;
    return false;
}

// Takes the current book as this program's open book; false with the reason when another running
// program holds it. (A lock that cannot be made at all, in a folder nobody may write, refuses
// nothing here: whatever would be written there fails on its own.)
bool holdCurrentBook(QString* reason)
{
    if (BookLock::holdOpenBook(currentBookPath()) != BookLock::HeldElsewhere)
        return true;
    return refuse(reason, BookLock::heldText(currentBookFileName()));
}

// Copies source beside the book, owner-only, under a name that is no book's. Empty when the copy
// failed.
QString stageCopy(const QString& source, const QString& suffix, QString* reason)
{
    const QString staged = currentBookPath() + suffix;
    // A run that broke off while it converted its copy left the copy, and its journal, which SQLite
    // would play back into this new copy of another file.
    QFile::remove(staged);
    BookFile::removeLeftovers(staged);
    if (!BookFile::copy(source, staged, reason))
        return QString();
    return staged;
}

void discard(const QString& staged)
{
    QFile::remove(staged);
    BookFile::removeLeftovers(staged);
}

// Puts staged in the current book's place with one rename, so that there is never a moment without
// a whole book file, once the book has given up whatever it keeps beside itself (a journal or a log
// would otherwise be played into the new file) and its safety backup is made. staged is gone
// afterwards either way.
bool replaceBook(const QString& staged, QString* reason)
{
    const QString book = currentBookPath();
    const QString backupDir = Constants::getInstance()->getBackupDir();
    // A replacement that a crash cut off left a whole book beside this one (the old book or the one
    // it was replaced with): it joins the backups instead of being lost.
    const QString safetyBackup = backupDir + BackupHelper::generateBackupFileName();
    const QString interrupted = BookFile::interruptedReplacement(book);
    if (!interrupted.isEmpty()) {
        // Named after the moment it was last written, and never taking the safety backup's name.
        QDateTime moment = QFileInfo(interrupted).lastModified();
        QString name = backupDir + BackupHelper::generateBackupFileName(moment);
        for (int tries = 0; tries < 100 && (name == safetyBackup || QFileInfo::exists(name)); ++tries) {
            moment = moment.addMSecs(-1);
            name = backupDir + BackupHelper::generateBackupFileName(moment);
        }
        if (!BookFile::move(interrupted, name))
            qCWarning(lcSql) << "BackupHelper: the interrupted replacement" << interrupted << "stays where it is";
    }
    if (!BookFile::settle(book) || !BookFile::replaceKeeping(staged, book, safetyBackup, reason)) {
        discard(staged);
        return false;
    }
    return true;
}

// The list of a book's automatic backups: a hidden file in the backup folder, one backup's file
// name a line, oldest first. A backup is automatic only when this list names it.
QString automaticListPath(const QString& bookFileName)
{
    return Constants::getInstance()->getBackupDir() + QLatin1Char('.') + bookFileName + QStringLiteral(".autobackups");
}

// Only a name that an automatic backup of that book can have (base, 17 digits, ".db") is ever
// taken from the list: whatever else the file holds names nothing that may be removed.
bool isAutomaticName(const QString& bookFileName, const QString& name)
{
    static const QRegularExpression stamp(QStringLiteral("^\\d{17}\\.db$"));
    const QString base = bookFileName.section(QLatin1Char('.'), 0, 0);
    return name.startsWith(base) && stamp.match(name.mid(base.size())).hasMatch();
}

QStringList readAutomaticList(const QString& bookFileName)
{
    QStringList names;
    QFile file(automaticListPath(bookFileName));
    if (!file.open(QIODevice::ReadOnly))
        return names;
    const QString backupDir = Constants::getInstance()->getBackupDir();
    for (const QByteArray& line : file.readAll().split('\n')) {
        const QString name = QString::fromUtf8(line);
        if (isAutomaticName(bookFileName, name) && !names.contains(name) && QFileInfo(backupDir + name).isFile())
            names << name;
    }
    return names;
}

bool writeAutomaticList(const QString& bookFileName, const QStringList& names)
{
    const QString path = automaticListPath(bookFileName);
    if (names.isEmpty())
        return QFile::remove(path) || !QFileInfo::exists(path);
    // The list is the owner's from the start, like the backups it names.
    const ScopedUmask ownerOnly(077);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    for (const QString& name : names)
        file.write(name.toUtf8() + '\n');
    return file.commit();
}

// Notes a new automatic backup and removes the oldest automatic ones beyond the number kept.
void noteAutomaticBackup(const QString& bookFileName, const QString& name)
{
    const QString backupDir = Constants::getInstance()->getBackupDir();
    QStringList names = readAutomaticList(bookFileName);
    names.removeAll(name);
    names << name;
    while (names.size() > BackupHelper::KeptAutomaticBackups) {
        // One that cannot be removed stays on the list, to be tried again after the next backup.
        if (!QFile::remove(backupDir + names.first()))
            break;
        names.removeFirst();
    }
    if (!writeAutomaticList(bookFileName, names))
        qCWarning(lcSql) << "BackupHelper: the list of automatic backups of" << bookFileName << "was not written";
}

// The list follows its book when the book is renamed or deleted: a book of the old name made
// later has backups of its own.
void moveAutomaticList(const QString& fromFileName, const QString& toFileName)
{
    const QString from = automaticListPath(fromFileName);
    const QString to = automaticListPath(toFileName);
    if (QFileInfo::exists(from) && !QFileInfo::exists(to))
        QFile::rename(from, to);
}

// A copy of the import: the other program's table and the statements that copy its rows. A row the
// book cannot hold is left out (OR IGNORE) and counted; a statement that fails altogether means the
// file is not what the import knows, and the import stops.
struct Copy {
    const char* source;
    QStringList statements;
};

bool copyRows(const QSqlDatabase& db, const Copy& copy, int* skipped)
{
    const QString source = QLatin1String(copy.source);
    if (!hasObject(db, source))
        return true;
    const int rows = sqlValue(db, QStringLiteral("select count(*) from ") + source, {}, -1).toInt();
    if (rows < 0)
        return false;
    int leftOut = 0;
    for (const QString& statement : copy.statements) {
        QSqlQuery query(db);
        if (!query.exec(statement)) {
            qCWarning(lcSql) << "BackupHelper:" << statement << query.lastError().text();
            return false;
        }
        // One category row becomes a category and a sub-category: it counts once.
        leftOut = std::max(leftOut, rows - query.numRowsAffected());
    }
    *skipped += leftOut;
    return true;
}

// Turns the other program's file on db into a book, in one transaction. init holds the template.
bool convertKobel(const QSqlDatabase& init, const QSqlDatabase& db, int* skipped)
{
    SqlTransaction transaction(db, QStringLiteral("kobel"));
    if (!transaction.isActive())
        return false;

    // The other program's triggers go first: seven of them bear the names of the book's own.
    for (const char* trigger : { "account_deleted", "account_updated", "bill_deleted", "bill_updated", "borrow_deleted",
             "borrow_updated", "budget_deleted", "budget_updated", "catelog_deleted", "catelog_updated",
             "excategory_deleted", "excategory_updated" }) {
        if (!execWrite(db, QStringLiteral("DROP TRIGGER IF EXISTS ") + QLatin1String(trigger), {}))
            return false;
    }

    // The book's tables, then its triggers, as the template has them. What the file already has
    // (its own android_metadata) stays.
    QSqlQuery schema(init);
    if (!schema.exec(QStringLiteral("SELECT name,sql FROM sqlite_master WHERE (type='table' or type='trigger') and "
                                    "name <> 'sqlite_sequence' ORDER BY type;")))
        return false;
    while (schema.next()) {
        if (hasObject(db, schema.value(0).toString()))
            continue;
        if (!execWrite(db, schema.value(1).toString(), {}))
            return false;
    }

    // The kinds the other program names in words of its own are the book's as the rows are copied.
    const Copy copies[] = {
        { "kbl_accounts",
            { QStringLiteral("insert or ignore INTO tbl_account(id,name,kind,amount,description,sort) select "
                             "account_id,name,case kind when 'creditcard' then 'credit' when 'bankcard' then 'card' "
                             "else kind end,amount,description,sort from kbl_accounts;") } },
        // A bill without a description has an empty one: the book requires the column.
        { "kbl_bills",
            { QStringLiteral("insert or ignore INTO tbl_bill(id,title,amount,description,date,month,category_id,"
                             "sub_category_id,account_id,to_account_id, borrower_id,kind) select "
                             "bill_id,title,amount,coalesce(description,''),date,month,catelog_id,catelog_id,"
                             "account_id,to_account_id, borrower_id,case kind when 'repayin' then 'refund' when "
                             "'repayout' then 'repay' else kind end from kbl_bills;") } },
        { "kbl_borrowers",
            { QStringLiteral("insert or ignore INTO tbl_borrower(id,name,kind,sort) select borrower_id,name,kind,sort "
                             "from kbl_borrowers;") } },
        { "kbl_catelogs",
            { QStringLiteral("insert or ignore INTO tbl_category(id,name,kind,sort) select catelog_id,name,kind,sort "
                             "from kbl_catelogs;"),
                QStringLiteral("insert or ignore INTO tbl_sub_category(id,category_id,name,kind,sort) select "
                               "catelog_id,catelog_id,name,kind,sort from kbl_catelogs;") } },
    };
    for (const Copy& copy : copies) {
        if (!copyRows(db, copy, skipped))
            return false;
    }

    for (const char* statement : { "DROP TABLE IF EXISTS kbl_accounts",
             "DROP TABLE IF EXISTS kbl_bills", "DROP TABLE IF EXISTS kbl_borrowers",
             "DROP TABLE IF EXISTS kbl_budget_items", "DROP TABLE IF EXISTS kbl_budgets",
             "DROP TABLE IF EXISTS kbl_catelogs", "DROP TABLE IF EXISTS kbl_excategories",
             "DROP TABLE IF EXISTS kbl_settings", "DROP TABLE IF EXISTS kbl_trashes" }) {
        if (!execWrite(db, QLatin1String(statement), {}))
            return false;
    }

    // Never synchronised, already at the current schema; no login password, no account.
    if (!execWrite(db, QStringLiteral("insert INTO tbl_setting(sync_time,version) values(?,?);"),
            { QLatin1String(NeverSynchronised), Constants::getInstance()->getVersionCode() }))
        return false;
    if (!BackupHelper::addDeleteData(db))
        return false;
    return transaction.commit();
}

// Writes record through its class on db and deletes it again, so that the delete trigger leaves its
// tombstone; a live row that already holds the id is left alone.
template <typename Record> bool tombstone(const QSqlDatabase& db, const QString& table, Record& record)
{
    if (sqlValue(db, QStringLiteral("select count(*) from %1 where id=?").arg(table), { record.getId() }, 1).toInt()
        > 0)
        return true;
    return Record::insertRow(&record, db)
        && execWrite(db, QStringLiteral("delete from %1 where id=?").arg(table), { record.getId() });
}

} // namespace

BackupHelper::BackupHelper(QObject* parent)
    : QObject(parent)
{
}

QString BackupHelper::generateBackupFileName()
{
    return generateBackupFileName(QDateTime::currentDateTime());
}

QString BackupHelper::generateBackupFileName(const QDateTime& moment)
{
    const QString fileName = QFileInfo(currentBookPath()).fileName();
    const QString base = fileName.section(QLatin1Char('.'), 0, 0);
    return base + moment.toString(QStringLiteral("yyyyMMddhhmmsszzz")) + QStringLiteral(".db");
}

bool BackupHelper::backup(const QString& backupFileName)
{
    const bool automatic = backupFileName.isEmpty();
    const QString name = automatic ? generateBackupFileName() : backupFileName;
    // Never replaces an existing file; an interrupted write is finished first, and a book with a
    // write-ahead log is copied with what the log holds.
    if (!BookFile::copy(currentBookPath(), Constants::getInstance()->getBackupDir() + name))
        return false;
    if (automatic)
        noteAutomaticBackup(currentBookFileName(), name);
    return true;
}

QStringList BackupHelper::automaticBackups(const QString& bookFileName)
{
    return readAutomaticList(bookFileName);
}

bool BackupHelper::isBook(const QString& path)
{
    return checkFile(path, hasBookColumns);
}

bool BackupHelper::isKobelFile(const QString& path)
{
    return checkFile(path, [](QSqlDatabase& db) {
        return tableCount(db, QStringLiteral("name in ('kbl_accounts','kbl_bills','kbl_borrowers','kbl_catelogs')")) > 0
            && tableCount(db, QStringLiteral("name like 'tbl\\_%' escape '\\'")) == 0;
    });
}

bool BackupHelper::restore(const QString& file, QString* reason)
{
    // The book is this program's from here until it has opened what was restored.
    if (!holdCurrentBook(reason))
        return false;
    // The book cannot be restored from itself.
    if (QFileInfo(file).canonicalFilePath() == QFileInfo(currentBookPath()).canonicalFilePath())
        return false;
    const QString staged = stageCopy(file, QStringLiteral(".restoring"), reason);
    if (staged.isEmpty())
        return false;
    // Only a book replaces a book: one that the schema upgrade brings up to date (an older book is
    // upgraded here, before it takes the book's place), never synchronised since, and with the
    // rollback journal whatever the file used. The file is checked once, before anything is
    // written to it; what SQLite then writes on the same connection needs no second check.
    const bool prepared
        = withBookConnection(staged, QStringLiteral("restored"), BookAccess::ReadWrite, [](QSqlDatabase& db) {
              return isSound(db) && DBHelper::checkSchema(db) && DBHelper::getInstance()->upgradeBook(db)
                  && execWrite(
                      db, QStringLiteral("update tbl_setting set sync_time=?;"), { QLatin1String(NeverSynchronised) })
                  && sqlValue(db, QStringLiteral("pragma journal_mode=delete"), {}, QString()).toString()
                  == QLatin1String("delete")
                  && hasBookColumns(db);
          });
    if (!prepared) {
        discard(staged);
        return false;
    }
    return replaceBook(staged, reason);
}

bool BackupHelper::kobel(const QString& file, int* skippedRows, bool* unopened, QString* reason)
{
    if (skippedRows)
        *skippedRows = 0;
    if (unopened)
        *unopened = false;
    if (!holdCurrentBook(reason) || !isKobelFile(file))
        return false;
    // The template is read for its schema only, from a private temporary copy.
    const std::unique_ptr<QTemporaryFile> templateCopy(
        QTemporaryFile::createNativeFile(QStringLiteral(":/rc/data/init.db")));
    if (!templateCopy)
        return false;
    const QString staged = stageCopy(file, QStringLiteral(".importing"), reason);
    if (staged.isEmpty())
        return false;

    int skipped = 0;
    bool opened = false;
    const bool converted = withBookConnection(
        templateCopy->fileName(), QStringLiteral("init"), BookAccess::ReadOnly, [&](QSqlDatabase& init) {
            return withBookConnection(staged, QStringLiteral("kobel"), BookAccess::ReadWrite, [&](QSqlDatabase& db) {
                opened = true;
                // The copy is this import's alone until it replaces the book: a conversion that fails
                // or is cut off by a crash leaves a copy that is thrown away, never played back, so
                // its rollback journal is kept in memory instead of being written beside it.
                return sqlValue(db, QStringLiteral("pragma journal_mode=memory"), {}, QString()).toString()
                    == QLatin1String("memory")
                    && convertKobel(init, db, &skipped)
                    // A book like every other: no write-ahead log beside it.
                    && sqlValue(db, QStringLiteral("pragma journal_mode=delete"), {}, QString()).toString()
                    == QLatin1String("delete");
            });
        });
    if (!opened && unopened)
        *unopened = true;
    if (!converted) {
        discard(staged);
        return false;
    }
    if (!replaceBook(staged, reason))
        return false;
    FileSetting::getInstance()->setValue(SettingKeys::EnableBillTitle, true);
    if (skippedRows)
        *skippedRows = skipped;
    return true;
}

bool BackupHelper::renameBook(const QString& fileName, const QString& newFileName, QString* reason)
{
    Constants* constants = Constants::getInstance();
    if (fileName == constants->getBookName())
        return refuse(reason, tr("账本正在被使用，您不能修改正在使用的账本"));
    if (!BookFile::move(constants->getDbDir() + fileName, constants->getDbDir() + newFileName, reason))
        return false;
    moveAutomaticList(fileName, newFileName);
    return true;
}

bool BackupHelper::deleteBook(const QString& fileName, QString* reason)
{
    Constants* constants = Constants::getInstance();
    if (fileName == constants->getBookName())
        return refuse(reason, tr("账本正在被使用，您不能删除正在使用的账本"));
    // Moved aside, never erased; an earlier deleted book of the same name is never replaced.
    const QString deleted = fileName + QStringLiteral(".deleted");
    const QString target = constants->getBackupDir() + deleted;
    if (QFileInfo::exists(target))
        return refuse(reason,
            tr("备份目录中已经有一个删除过的同名账本（%1）。")
                .arg(QDir::toNativeSeparators(target)));
    if (!BookFile::move(constants->getDbDir() + fileName, target, reason))
        return false;
    moveAutomaticList(fileName, deleted);
    return true;
}

bool BackupHelper::addDeleteData(const QSqlDatabase& db)
{
    const QString accounts = QStringLiteral("tbl_account");
    MAccount account;
    account.setId(QStringLiteral("01"));
    account.setName(tr("我的钱包"));
    account.setKind(QStringLiteral("cash"));
    account.setAmount(0);
    account.setDescription(tr("我的钱包"));
    bool ok = tombstone(db, accounts, account);
    account.setName(tr("我的银行卡"));
    account.setId(QStringLiteral("02"));
    account.setKind(QStringLiteral("card"));
    account.setAmount(0);
    account.setDescription(tr("我的银行卡"));
    ok = ok && tombstone(db, accounts, account);

    MBorrower borrower;
    borrower.setId(QStringLiteral("01"));
    borrower.setName(tr("借款人"));
    borrower.setDescription(tr("借款人"));
    ok = ok && tombstone(db, QStringLiteral("tbl_borrower"), borrower);

    ok = ok && DBHelper::forEachDefaultCategory([&db](MCategory& category, int) {
        const bool top = category.getCategoryId().isEmpty();
        return tombstone(db, top ? QStringLiteral("tbl_category") : QStringLiteral("tbl_sub_category"), category);
    });

    const QString members = QStringLiteral("tbl_member");
    MMember member;
    member.setId(QStringLiteral("01"));
    member.setName(tr("自己"));
    member.setDescription(tr("我自己"));
    ok = ok && tombstone(db, members, member);
    member.setId(QStringLiteral("02"));
    member.setName(tr("家人"));
    member.setDescription(tr("我的家人"));
    return ok && tombstone(db, members, member);
}

namespace {

// Empties every synchronised table and its tombstones, as deleting the rows one by one and then the
// tombstones their delete triggers leave would: no tombstone stays, so that the next synchronisation
// sends no deletions. The tables' triggers are set aside while they are emptied and put back as
// they were, in the caller's transaction, so that SQLite empties each table at once instead of
// running a trigger for every row.
bool emptyBookTables(const QSqlDatabase& db)
{
    QStringList tables;
    for (const char* table : BookTables)
        tables << QLatin1String(table);
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("select name, sql from sqlite_master where type='trigger' and tbl_name in ('%1')")
                        .arg(tables.join(QStringLiteral("','")))))
        return false;
    QList<QPair<QString, QString>> triggers;
    while (query.next())
        triggers.append({ query.value(0).toString(), query.value(1).toString() });
    query.finish();
    for (const auto& trigger : std::as_const(triggers)) {
        QString quoted = trigger.first;
        quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
        if (!execWrite(db, QStringLiteral("drop trigger \"%1\"").arg(quoted), {}))
            return false;
    }
    for (const QString& table : std::as_const(tables)) {
        for (const char* suffix : { "", "_deleted" }) {
            if (!execWrite(db, QStringLiteral("delete from ") + table + QLatin1String(suffix), {}))
                return false;
        }
    }
    // Nothing of the emptied book waits to be sent.
    if (hasObject(db, QStringLiteral("tbl_sync_pending"))
        && !execWrite(db, QStringLiteral("delete from tbl_sync_pending"), {}))
        return false;
    for (const auto& trigger : std::as_const(triggers)) {
        if (!execWrite(db, trigger.second, {}))
            return false;
    }
    return true;
}

} // namespace

bool BackupHelper::resetBook(QString* reason)
{
    // The open book is this program's; a book that another running program holds as well (it
    // could not be locked when it opened) is not emptied under it.
    BookLock lock(currentBookPath());
    if (lock.lock() == BookLock::HeldElsewhere)
        return refuse(reason, BookLock::heldText(currentBookFileName()));
    const QSqlDatabase db = QSqlDatabase::database();
    bool ok = false;
    {
        // The default records are written through the record classes; the pages hear of the whole
        // reset once, below, and never see a half-emptied book.
        const QSignalBlocker quiet(Notifier::getInstance());
        SqlTransaction transaction(db, QStringLiteral("reset"));
        ok = transaction.isActive();
        ok = ok && emptyBookTables(db);
        ok = ok
            && execWrite(
                db, QStringLiteral("update tbl_setting set sync_time=?;"), { QLatin1String(NeverSynchronised) });
        ok = ok && DBHelper::getInstance()->initDefaultData(QString());
        ok = ok && transaction.commit();
    }
    DBHelper::clearRecordCaches();
    return ok;
}
