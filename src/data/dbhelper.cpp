#include "data/dbhelper.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>

#include "data/constants.h"
#include "data/dbsetting.h"
#include "data/maccount.h"
#include "data/mbill.h"
#include "data/mborrower.h"
#include "data/mcategory.h"
#include "data/mmember.h"
#include "data/sqlhelper.h"
#include "data/sqltransaction.h"
#include "data/logging.h"

#include <fcntl.h>
#include <unistd.h>

namespace {

DBHelper* instance = nullptr;

const char* const defaultVersion = "2007-07-07 07:07:07";

// "01" … "09", then the plain number.
QString twoDigits(int n)
{
    return n <= 9 ? QStringLiteral("0") + QString::number(n) : QString::number(n);
}

// Writes a record of the open book through its class (caches dropped, signals emitted), or a record
// of another book on that book's connection.
template <typename T> bool writeRecord(T* record, const QSqlDatabase& db, bool openBook)
{
    return openBook ? T::insert(record) : T::insertRow(record, db);
}

// What the program reads of each table, as statements that fail when a table or column is missing;
// the categories and the bill's category columns came with version 8.
struct SchemaRead {
    int since;
    const char* sql;
};
const SchemaRead schemaReads[] = {
    { 0, "select user_id,username,password,sync_username,sync_password,version,sync_time from tbl_setting where 0" },
    { 0,
        "select id,amount,description,date,month,account_id,to_account_id,borrower_id,member_id,title,kind,"
        "created_time from tbl_bill where 0" },
    { 8, "select category_id,sub_category_id from tbl_bill where 0" },
    { 0, "select id,name,kind,amount,description,sort from tbl_account where 0" },
    { 0, "select id,name,kind,description,sort from tbl_borrower where 0" },
    { 8, "select id,name,kind,description,sort from tbl_category where 0" },
    { 8, "select id,category_id,name,kind,description,sort from tbl_sub_category where 0" },
    { 0, "select id,name,description,sort from tbl_member where 0" },
};

// The pending changes: the table and, per synchronised table, a trigger for each kind of write. A
// trigger appends (the next number after the largest); the synchronisation forgets what it uploaded
// by number, so a change written while it runs stays. Rows are taken out only at the end of a
// synchronisation, after which it holds no number, so a number that comes back is never mistaken.
const char* const pendingTable = "tbl_sync_pending";
const char* const pendingTableSql
    = "CREATE TABLE [tbl_sync_pending] ([seq] INTEGER PRIMARY KEY, [tbl] TEXT NOT NULL, [id] TEXT NOT NULL)";

struct PendingTrigger {
    QString name;
    QString sql;
};

QList<PendingTrigger> pendingTriggers()
{
    QList<PendingTrigger> triggers;
    for (const QString& table : DBHelper::synchronisedTables()) {
        for (const auto& [event, row] :
            { std::pair { "INSERT", "new" }, std::pair { "UPDATE", "new" }, std::pair { "DELETE", "old" } }) {
            const QString name = QStringLiteral("%1_pending_%2").arg(table, QLatin1String(event).toString().toLower());
            const QString sql = QStringLiteral("CREATE TRIGGER [%1] AFTER %2 ON [tbl_%3] FOR EACH ROW BEGIN "
                                               "INSERT INTO tbl_sync_pending (tbl, id) VALUES ('%3', %4.id); END")
                                    .arg(name, QLatin1String(event), table, QLatin1String(row));
            triggers.append(PendingTrigger { name, sql });
        }
    }
    return triggers;
}

QSqlDatabase connectionFor(const QString& connectionName)
{
    return connectionName.isEmpty() ? QSqlDatabase::database() : QSqlDatabase::database(connectionName);
}

} // namespace

DBHelper::DBHelper(QObject* parent)
    : QObject(parent)
{
    upgradeMap.insert(7,
        { QStringLiteral("ALTER TABLE [tbl_bill] ADD COLUMN category_id VARCHAR(36);"),
            QStringLiteral("ALTER TABLE [tbl_bill] ADD COLUMN sub_category_id VARCHAR(36);"),
            QStringLiteral("ALTER TABLE [tbl_bill_deleted] ADD COLUMN category_id VARCHAR(36);"),
            QStringLiteral("ALTER TABLE [tbl_bill_deleted] ADD COLUMN sub_category_id VARCHAR(36);"),
            QStringLiteral("CREATE TABLE [tbl_category] (   [id] VARCHAR(36) NOT NULL,    [user_id] int DEFAULT 0,    "
                           "[name] NVARCHAR(10) NOT NULL,    [kind] nvarchar(10) NOT NULL,    [description] "
                           "NVARCHAR(50),    [sort] INTEGER DEFAULT 0,    [version] TIMESTAMP DEFAULT "
                           "CURRENT_TIMESTAMP,    CONSTRAINT [] PRIMARY KEY ([id])); "),
            QStringLiteral("CREATE TRIGGER [category_updated] AFTER UPDATE ON [tbl_category] FOR EACH ROW BEGIN "
                           "UPDATE tbl_category Set version = CURRENT_TIMESTAMP where id = new.id; END; "),
            QStringLiteral("CREATE TRIGGER [category_deleted] BEFORE DELETE ON [tbl_category] FOR EACH ROW BEGIN "
                           "insert INTO tbl_category_deleted select * from tbl_category where id =  old.id; update "
                           "tbl_category_deleted set version = current_timestamp where id =  old.id; END;  "),
            QStringLiteral("CREATE TABLE [tbl_category_deleted] (   [id] VARCHAR(36) NOT NULL,    [user_id] int "
                           "DEFAULT 0,    [name] NVARCHAR(10) NOT NULL,    [kind] nvarchar(10) NOT NULL,    "
                           "[description] NVARCHAR(50),    [sort] INTEGER DEFAULT 0,    [version] TIMESTAMP DEFAULT "
                           "CURRENT_TIMESTAMP,    CONSTRAINT [] PRIMARY KEY ([id]));  "),
            QStringLiteral(" CREATE TABLE [tbl_sub_category] (   [id] VARCHAR(36) NOT NULL,    [category_id] "
                           "VARCHAR(36) NOT NULL,    [user_id] int DEFAULT 0,    [name] NVARCHAR(10) NOT NULL,    "
                           "[kind] nvarchar(10) NOT NULL,    [description] NVARCHAR(50),    [sort] INTEGER DEFAULT 0,  "
                           "  [version] TIMESTAMP DEFAULT CURRENT_TIMESTAMP,    CONSTRAINT [] PRIMARY KEY ([id]));"),
            QStringLiteral(" CREATE TRIGGER [sub_category_updated] AFTER UPDATE ON [tbl_sub_category] FOR EACH ROW "
                           "BEGIN UPDATE tbl_sub_category Set version = CURRENT_TIMESTAMP where id = new.id; END;"),
            QStringLiteral("CREATE TRIGGER [sub_category_deleted] BEFORE DELETE ON [tbl_sub_category] FOR EACH ROW "
                           "BEGIN insert INTO tbl_sub_category_deleted select * from tbl_sub_category where id =  "
                           "old.id; update tbl_sub_category_deleted set version = current_timestamp where id =  "
                           "old.id; END;"),
            QStringLiteral("CREATE TABLE [tbl_sub_category_deleted] (   [id] VARCHAR(36) NOT NULL,    [category_id] "
                           "VARCHAR(36) NOT NULL,    [user_id] int DEFAULT 0,    [name] NVARCHAR(10) NOT NULL,    "
                           "[kind] nvarchar(10) NOT NULL,    [description] NVARCHAR(50),    [sort] INTEGER DEFAULT 0,  "
                           "  [version] TIMESTAMP DEFAULT CURRENT_TIMESTAMP,    CONSTRAINT "
                           "[sqlite_autoindex_tbl_sub_category_deleted_1] PRIMARY KEY ([id])); ") });
}

DBHelper* DBHelper::getInstance()
{
    if (!instance)
        instance = new DBHelper(nullptr);
    return instance;
}

bool DBHelper::openDefaultConnection(const QString& path)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"));
    db.setDatabaseName(path);
    if (!db.open())
        return false;
    // Settings of this connection only; the file stays as it is. The bill index reads every bill at
    // start and every bill of a new filter: the book is read through a memory map rather than a
    // copy per page, and a larger cache lets the sort of every bill for the export and the printout
    // happen in memory instead of spilling to temporary files.
    QSqlQuery query(db);
    for (const char* pragma : { "pragma mmap_size=268435456", "pragma cache_size=-32768" }) {
        if (!query.exec(QLatin1String(pragma)))
            qCWarning(lcSql) << "DBHelper:" << pragma << query.lastError().text();
    }
    return true;
}

void DBHelper::closeDefaultConnection()
{
    {
        QSqlDatabase db = QSqlDatabase::database(QLatin1String(QSqlDatabase::defaultConnection), false);
        db.close();
    }
    QSqlDatabase::removeDatabase(QLatin1String(QSqlDatabase::defaultConnection));
}

bool DBHelper::checkSchema()
{
    return checkSchema(QSqlDatabase::database());
}

bool DBHelper::checkSchema(const QSqlDatabase& db)
{
    QSqlQuery query(db);
    // Read here rather than through the settings object, which must not be loaded from a file that
    // may be no book. Without a settings row the book counts as version 0, as for the upgrade.
    const int version
        = query.exec(QStringLiteral("select version from tbl_setting")) && query.next() ? query.value(0).toInt() : 0;
    for (const SchemaRead& read : schemaReads) {
        if (version < read.since)
            continue;
        if (!query.exec(QLatin1String(read.sql))) {
            qCWarning(lcSql) << "DBHelper: not a book:" << query.lastError().text();
            return false;
        }
    }
    return true;
}

bool DBHelper::isWritable(const QString& path)
{
    const QByteArray file = QFile::encodeName(path);
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    return ::faccessat(AT_FDCWD, file.constData(), W_OK, AT_EACCESS) == 0
        && ::faccessat(AT_FDCWD, folder.constData(), W_OK | X_OK, AT_EACCESS) == 0;
}

bool DBHelper::isApplied(const QSqlDatabase& db, const QString& statement)
{
    static const QRegularExpression addColumn(QStringLiteral("^\\s*ALTER TABLE \\[?(\\w+)\\]? ADD COLUMN \\[?(\\w+)"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression create(
        QStringLiteral("^\\s*CREATE (TABLE|TRIGGER) \\[?(\\w+)"), QRegularExpression::CaseInsensitiveOption);

    QRegularExpressionMatch match = addColumn.match(statement);
    if (match.hasMatch()) {
        return sqlValue(db, QStringLiteral("select count(*) from pragma_table_info(?) where lower(name)=lower(?)"),
                   { match.captured(1), match.captured(2) }, 0)
                   .toInt()
            > 0;
    }
    match = create.match(statement);
    if (match.hasMatch()) {
        return sqlValue(db,
                   QStringLiteral("select count(*) from sqlite_master where type=lower(?) and lower(name)=lower(?)"),
                   { match.captured(1), match.captured(2) }, 0)
                   .toInt()
            > 0;
    }
    return false;
}

const QStringList& DBHelper::synchronisedTables()
{
    static const QStringList tables = { QStringLiteral("bill"), QStringLiteral("account"), QStringLiteral("borrower"),
        QStringLiteral("category"), QStringLiteral("sub_category"), QStringLiteral("member") };
    return tables;
}

bool DBHelper::ensurePendingChanges(const QSqlDatabase& db, bool* repaired)
{
    if (repaired)
        *repaired = false;
    // What the book holds under the names: the type and the statement that made it.
    const QList<PendingTrigger> triggers = pendingTriggers();
    QStringList names = { QLatin1String(pendingTable) };
    for (const PendingTrigger& trigger : triggers)
        names << trigger.name;
    QHash<QString, QString> present;
    {
        QSqlQuery query(db);
        if (!query.exec(QStringLiteral("select name, type, sql from sqlite_master where name in ('%1')")
                            .arg(names.join(QStringLiteral("','"))))) {
            qCWarning(lcSql) << "DBHelper: cannot read the schema:" << query.lastError().text();
            return false;
        }
        while (query.next())
            present.insert(
                query.value(0).toString(), query.value(1).toString() + QLatin1Char(' ') + query.value(2).toString());
    }
    const QString table = QLatin1String(pendingTable);
    // The table is taken as it is only with the columns the triggers and the synchronisation use.
    bool tableSound = present.value(table) == QStringLiteral("table ") + QLatin1String(pendingTableSql);
    QList<PendingTrigger> missing;
    for (const PendingTrigger& trigger : triggers) {
        if (present.value(trigger.name) != QStringLiteral("trigger ") + trigger.sql)
            missing.append(trigger);
    }
    if (tableSound && missing.isEmpty())
        return true;

    SqlTransaction transaction(db, QStringLiteral("pending_changes"));
    if (!transaction.isActive())
        return false;
    QSqlQuery query(db);
    const auto exec = [&query](const QString& sql) {
        if (query.exec(sql))
            return true;
        qCWarning(lcSql) << "DBHelper:" << sql << query.lastError().text();
        return false;
    };
    if (!tableSound) {
        // Whatever another program left under the name goes (a table, a view, an index); its triggers
        // go with a table.
        const QString type = present.value(table).section(QLatin1Char(' '), 0, 0);
        if (!type.isEmpty() && !exec(QStringLiteral("DROP %1 [%2]").arg(type, table)))
            return false;
        if (!exec(QLatin1String(pendingTableSql)))
            return false;
        missing = triggers;
    }
    for (const PendingTrigger& trigger : std::as_const(missing)) {
        if (!exec(QStringLiteral("DROP TRIGGER IF EXISTS [%1]").arg(trigger.name)) || !exec(trigger.sql))
            return false;
    }
    if (!transaction.commit())
        return false;
    // A book that never had it (a new one, one of an older version) gets it quietly; one that lost or
    // changed it is worth a line.
    if (present.isEmpty())
        qCDebug(lcSql) << "DBHelper: made the record of pending changes";
    else
        qCInfo(lcSql) << "DBHelper: made the record of pending changes" << (tableSound ? "triggers" : "table")
                      << "anew";
    if (repaired)
        *repaired = true;
    return true;
}

bool DBHelper::upgrade()
{
    const int target = Constants::getInstance()->getVersionCode();
    DbSetting* setting = DbSetting::getInstance();
    const bool hadRow = setting->hasRow();
    const int from = hadRow ? setting->getVersion() : 0;
    const QSqlDatabase db = QSqlDatabase::database();
    // Books of this version made before the record of pending changes get it here as well. Without
    // it (a book that cannot be written now) the synchronisation goes by the version rule alone and
    // makes it itself.
    if (from >= target) {
        ensurePendingChanges(db);
        return true;
    }

    SqlTransaction transaction(db, QStringLiteral("upgrade"));
    if (!transaction.isActive())
        return false;
    // A book without its settings row starts from nothing and gets the template's row.
    if (!hadRow
        && !execWrite(db, QStringLiteral("insert into tbl_setting (sync_time, version) values (?, 0)"),
            { QStringLiteral("2008-08-08 08:08:08.000") }))
        return false;

    if (!runUpgradeStatements(db, from))
        return false;
    ensurePendingChanges(db);

    setting->setVersion(target);
    if (!setting->save() || !transaction.commit()) {
        setting->setVersion(from);
        return false;
    }
    if (!hadRow)
        DbSetting::setInstance(new DbSetting());
    return true;
}

bool DBHelper::upgradeBook(const QSqlDatabase& db)
{
    const int target = Constants::getInstance()->getVersionCode();
    SqlTransaction transaction(db, QStringLiteral("upgrade"));
    if (!transaction.isActive())
        return false;
    const QVariant stored = sqlValue(db, QStringLiteral("select version from tbl_setting"), {}, QVariant());
    const int from = stored.toInt();
    if (from >= target) {
        ensurePendingChanges(db);
        return transaction.commit();
    }
    if (!stored.isValid()
        && !execWrite(db, QStringLiteral("insert into tbl_setting (sync_time, version) values (?, 0)"),
            { QStringLiteral("2008-08-08 08:08:08.000") }))
        return false;
    if (!runUpgradeStatements(db, from))
        return false;
    ensurePendingChanges(db);
    return execWrite(db, QStringLiteral("update tbl_setting set version=?"), { target }) && transaction.commit();
}

bool DBHelper::runUpgradeStatements(const QSqlDatabase& db, int from)
{
    const int target = Constants::getInstance()->getVersionCode();
    for (int version = from; version < target; ++version) {
        for (const QString& statement : upgradeMap.value(version)) {
            if (isApplied(db, statement)) {
                qCDebug(lcSql) << "DBHelper: already in the book:" << statement;
                continue;
            }
            QSqlQuery query(db);
            const bool ok = query.exec(statement);
            qCDebug(lcSql) << statement << ok << query.lastError().text();
            if (!ok)
                return false;
        }
    }
    return true;
}

bool DBHelper::initDefaultData(const QString& path)
{
    if (path.isEmpty())
        return fillDefaultData(QString());

    // Opening a missing file would create an empty one; only an existing book is filled.
    if (!QFileInfo(path).isFile()) {
        qCWarning(lcSql) << "DBHelper: no book at" << path;
        return false;
    }
    QString error;
    const bool ok = withBookConnection(
        path, QStringLiteral("quorvane_default_data"), BookAccess::ReadWrite,
        [this](QSqlDatabase& db) { return fillDefaultData(db.connectionName()); }, &error);
    if (!error.isEmpty())
        qCWarning(lcSql) << "DBHelper: cannot open" << path << error;
    return ok;
}

bool DBHelper::fillDefaultData(const QString& connectionName)
{
    const QSqlDatabase db = connectionFor(connectionName);
    const bool openBook = connectionName.isEmpty();
    bool ok = false;
    {
        SqlTransaction transaction(db, QStringLiteral("default_data"));
        ok = transaction.isActive();
        // The default records are every book's and go to no other as changes of this one (a reset
        // book writes them anew): what they add to the pending changes is taken out again below.
        const bool pending
            = sqlValue(db, QStringLiteral("select count(*) from sqlite_master where type='table' and name=?"),
                  { QLatin1String(pendingTable) }, 0)
                  .toInt()
            > 0;
        const QVariant pendingBefore = pending
            ? sqlValue(db, QStringLiteral("select coalesce(max(seq),0) from tbl_sync_pending"), {}, QVariant())
            : QVariant();
        ok = ok && (!pending || pendingBefore.isValid());

        MAccount account;
        account.setId(QStringLiteral("01"));
        account.setName(tr("我的钱包"));
        account.setKind(QStringLiteral("cash"));
        account.setAmount(0);
        account.setDescription(tr("我的钱包"));
        account.setSort(1);
        ok = ok && writeRecord(&account, db, openBook);
        account.setId(QStringLiteral("02"));
        account.setName(tr("我的银行卡"));
        account.setKind(QStringLiteral("card"));
        account.setDescription(tr("我的银行卡"));
        account.setSort(2);
        ok = ok && writeRecord(&account, db, openBook);

        MBorrower borrower;
        borrower.setId(QStringLiteral("01"));
        borrower.setName(tr("借款人"));
        borrower.setDescription(tr("借款人"));
        borrower.setSort(1);
        ok = ok && writeRecord(&borrower, db, openBook);

        ok = ok && forEachDefaultCategory([&db, openBook](MCategory& category, int number) {
            category.setSort(number);
            return writeRecord(&category, db, openBook);
        });

        MMember member;
        member.setId(QStringLiteral("01"));
        member.setName(tr("自己"));
        member.setDescription(tr("我自己"));
        member.setSort(1);
        ok = ok && writeRecord(&member, db, openBook);
        member.setId(QStringLiteral("02"));
        member.setName(tr("家人"));
        member.setDescription(tr("我的家人"));
        member.setSort(2);
        ok = ok && writeRecord(&member, db, openBook);

        for (const char* table : { "tbl_account", "tbl_borrower", "tbl_category", "tbl_sub_category", "tbl_member" }) {
            ok = ok
                && execWrite(db,
                    QStringLiteral("update %1 set version='%2'")
                        .arg(QLatin1String(table), QLatin1String(defaultVersion)),
                    {});
        }
        ok = ok
            && (!pending
                || execWrite(db, QStringLiteral("delete from tbl_sync_pending where seq > ?"), { pendingBefore }));
        ok = ok && transaction.commit();
    }
    if (!ok && openBook) {
        // Listeners may have loaded rows that the rollback took back.
        MAccount::clearCache();
        MBorrower::clearCache();
        MCategory::clearCache();
        MMember::clearCache();
    }
    return ok;
}

void DBHelper::clearRecordCaches()
{
    MAccount::clearCache();
    MBorrower::clearCache();
    MCategory::clearCache();
    MMember::clearCache();
    MBill::clearCache();
}

QStringList DBHelper::defaultCategoryNames(const QString& kind)
{
    if (kind == QLatin1String("expense"))
        return { tr("餐饮食品"), tr("服装鞋帽"), tr("日常居家"), tr("交通出行"), tr("休闲娱乐"), tr("文化教育"),
            tr("人情交际"), tr("医疗保健"), tr("投资保险"), tr("其它支出") };
    if (kind == QLatin1String("income"))
        return { tr("工资奖金"), tr("其它收入") };
    return {};
}

QMultiMap<QString, QStringList> DBHelper::defaultSubCategoryNames(const QString& kind)
{
    QMultiMap<QString, QStringList> names;
    if (kind == QLatin1String("expense")) {
        names.insert(tr("餐饮食品"), { tr("早中晚餐"), tr("烟酒茶饮"), tr("水果"), tr("零食") });
        names.insert(tr("服装鞋帽"), { tr("衣服裤子"), tr("鞋帽包包"), tr("化妆饰品") });
        names.insert(tr("日常居家"), { tr("日常用品"), tr("水电煤气") });
        names.insert(tr("交通出行"), { tr("公交车"), tr("打的") });
        names.insert(tr("休闲娱乐"), { tr("电影演出"), tr("腐败聚会"), tr("旅游度假") });
        names.insert(tr("文化教育"), { tr("书刊杂志"), tr("培训进修") });
        names.insert(tr("人情交际"), { tr("送礼请客"), tr("孝敬长辈") });
        names.insert(tr("医疗保健"), { tr("治疗药品") });
        names.insert(tr("投资保险"), { tr("证券期货"), tr("保险") });
        names.insert(tr("其它支出"), { tr("其它支出") });
    } else if (kind == QLatin1String("income")) {
        names.insert(tr("工资奖金"), { tr("工资收入"), tr("奖金收入") });
        names.insert(tr("其它收入"), { tr("其它收入") });
    }
    return names;
}

bool DBHelper::forEachDefaultCategory(const std::function<bool(MCategory& record, int number)>& visit)
{
    int categoryId = 1;
    int subCategoryId = 1;
    for (const char* kind : { "expense", "income" }) {
        const QString kindKey = QLatin1String(kind);
        const QMultiMap<QString, QStringList> subCategoryNames = defaultSubCategoryNames(kindKey);
        for (const QString& name : defaultCategoryNames(kindKey)) {
            MCategory category;
            category.setId(twoDigits(categoryId));
            category.setName(name);
            category.setKind(kindKey);
            category.setDescription(name);
            if (!visit(category, categoryId))
                return false;
            ++categoryId;

            for (const QString& subName : subCategoryNames.value(name)) {
                MCategory sub;
                sub.setId(twoDigits(subCategoryId));
                sub.setCategoryId(category.getId());
                sub.setName(subName);
                sub.setKind(kindKey);
                sub.setDescription(subName);
                if (!visit(sub, subCategoryId))
                    return false;
                ++subCategoryId;
            }
        }
    }
    return true;
}
