// quorvane-crashdriver: writes to a book at random through the program's own classes, for ever, and
// says what it does on its standard output, one line each: "BEGIN {json}" before a write starts
// (what it is about to write) and "ACK {json}" once the write has returned success. tst_crashwrites
// kills it with SIGKILL at random moments and checks the book against the lines it got.
//
//     quorvane-crashdriver --folder DIR --seed N --kobel FILE --kobel FILE --service URL --user NAME
//         --password SECRET --config FILE --prefix PREFIX
//     quorvane-crashdriver --torn PATH
//
// The second form leaves PATH as a process that died in the middle of a large write leaves it: part
// of the transaction written into the file, the rollback journal beside it.
#include <QApplication>
#include <QComboBox>
#include <QCommandLineParser>
#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTimer>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <unistd.h>

#include "bills/dquickchange.h"
#include "data/constants.h"
#include "data/dbhelper.h"
#include "data/dbsetting.h"
#include "data/filesetting.h"
#include "data/maccount.h"
#include "data/mbill.h"
#include "data/mborrower.h"
#include "data/mcategory.h"
#include "data/mmember.h"
#include "data/settingkeys.h"
#include "data/sqlhelper.h"
#include "datamgmt/backuphelper.h"
#include "sync/synchelper.h"
#include "testenv.h"

namespace {

QRandomGenerator generator;
int sequence = 0;

// One line, in one write: a line shorter than the pipe's buffer arrives whole or not at all, and a
// longer one that a kill cuts short has no line end, so the reader drops it.
void say(const QByteArray& text)
{
    const QByteArray line = text + '\n';
    qsizetype done = 0;
    while (done < line.size()) {
        const ssize_t written = ::write(STDOUT_FILENO, line.constData() + done, size_t(line.size() - done));
        if (written <= 0)
            ::_exit(4);
        done += written;
    }
}

QByteArray compact(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

void begin(QJsonObject op)
{
    op.insert(QStringLiteral("seq"), ++sequence);
    say("BEGIN " + compact(op));
}

void acknowledge(QJsonObject result = {})
{
    result.insert(QStringLiteral("seq"), sequence);
    say("ACK " + compact(result));
}

[[noreturn]] void failed(const QString& what)
{
    say("FAIL " + compact({ { QStringLiteral("seq"), sequence }, { QStringLiteral("what"), what } }));
    ::_exit(3);
}

void confirm(bool ok, const QString& what, const QJsonObject& result = {})
{
    if (!ok)
        failed(what);
    acknowledge(result);
}

int between(int low, int high)
{
    return int(generator.bounded(low, high + 1));
}

bool chance(int percent)
{
    return between(1, 100) <= percent;
}

template <typename T> T pick(const QList<T>& list)
{
    return list.at(between(0, int(list.size()) - 1));
}

QString money(double value)
{
    return QString::number(value, 'g', 15);
}

QString words(int most)
{
    static const QStringList pool = { QStringLiteral("午饭"), QStringLiteral("房租"), QStringLiteral("工资"),
        QStringLiteral("taxi"), QStringLiteral("O'Brien"), QStringLiteral("咖啡"), QStringLiteral("books"),
        QStringLiteral("100%"), QStringLiteral("礼物"), QStringLiteral("a_b") };
    QStringList chosen;
    for (int i = between(0, most); i > 0; --i)
        chosen << pick(pool);
    // An empty text as the dialogs give it: empty, not null.
    return chosen.isEmpty() ? QStringLiteral("") : chosen.join(QLatin1Char(' '));
}

QStringList column(const QString& sql, const QVariantList& values = {})
{
    QSqlQuery query;
    query.prepare(sql);
    for (const QVariant& value : values)
        query.addBindValue(value);
    QStringList list;
    if (query.exec()) {
        while (query.next())
            list << query.value(0).toString();
    }
    return list;
}

int count(const QString& sql, const QVariantList& values)
{
    return sqlValue(QSqlDatabase::database(), sql, values, 0).toInt();
}

// Ids that no bill names in the columns a page checks before it lets the record go.
bool unused(const QString& table, const QString& id)
{
    if (table == QLatin1String("account"))
        return count(QStringLiteral("select count(*) from tbl_bill where account_id=? or to_account_id=?"), { id, id })
            == 0;
    if (table == QLatin1String("category"))
        return count(QStringLiteral("select (select count(*) from tbl_bill where category_id=?) + "
                                    "(select count(*) from tbl_sub_category where category_id=?)"),
                   { id, id })
            == 0;
    return count(QStringLiteral("select count(*) from tbl_bill where %1_id=?").arg(table), { id }) == 0;
}

QStringList liveIds(const QString& table)
{
    return column(QStringLiteral("select id from tbl_%1 order by id").arg(table));
}

const QStringList billKinds = { QStringLiteral("expense"), QStringLiteral("income"), QStringLiteral("transfer"),
    QStringLiteral("lend"), QStringLiteral("borrow"), QStringLiteral("refund"), QStringLiteral("repay") };
const QStringList referenceTables = { QStringLiteral("account"), QStringLiteral("borrower"), QStringLiteral("category"),
    QStringLiteral("sub_category"), QStringLiteral("member") };

QJsonObject billFields(const MBill& bill)
{
    return { { QStringLiteral("amount"), money(bill.getAmount()) },
        { QStringLiteral("description"), bill.getDescription() },
        { QStringLiteral("date"), bill.getDate().toString(Qt::ISODate) },
        { QStringLiteral("month"), QString::number(bill.getMonth()) },
        { QStringLiteral("category_id"), bill.getCategoryId() },
        { QStringLiteral("sub_category_id"), bill.getSubCategoryId() },
        { QStringLiteral("account_id"), bill.getAccountId() },
        { QStringLiteral("to_account_id"), bill.getToAccountId() },
        { QStringLiteral("borrower_id"), bill.getBorrowerId() }, { QStringLiteral("member_id"), bill.getMemberId() },
        { QStringLiteral("title"), bill.getTitle() }, { QStringLiteral("kind"), bill.getKind() } };
}

// Fills bill as the bill dialog would for kind: the references that kind needs, the amount signed as
// stored. False when the book lacks what the kind needs.
bool fillBill(MBill& bill, const QString& kind)
{
    const QStringList accounts = liveIds(QStringLiteral("account"));
    if (accounts.isEmpty())
        return false;
    bill.setKind(kind);
    bill.setAccountId(pick(accounts));
    bill.setToAccountId(QString());
    bill.setBorrowerId(QString());
    bill.setCategoryId(QString());
    bill.setSubCategoryId(QString());
    bill.setMemberId(QString());
    if (MBill::isCategoryKind(kind)) {
        QSqlQuery pairs;
        pairs.prepare(QStringLiteral("select c.id, s.id from tbl_category c join tbl_sub_category s on "
                                     "s.category_id=c.id where c.kind=? order by s.id"));
        pairs.addBindValue(kind);
        QList<QPair<QString, QString>> choices;
        if (pairs.exec()) {
            while (pairs.next())
                choices.append({ pairs.value(0).toString(), pairs.value(1).toString() });
        }
        if (choices.isEmpty())
            return false;
        const auto choice = pick(choices);
        bill.setCategoryId(choice.first);
        bill.setSubCategoryId(choice.second);
        const QStringList members = liveIds(QStringLiteral("member"));
        if (!members.isEmpty())
            bill.setMemberId(pick(members));
    } else if (kind == QLatin1String("transfer")) {
        bill.setToAccountId(pick(accounts));
    } else {
        const QStringList borrowers = liveIds(QStringLiteral("borrower"));
        if (borrowers.isEmpty())
            return false;
        bill.setBorrowerId(pick(borrowers));
    }
    const double amount = between(1, 500000) / 100.0;
    const bool negative = kind == QLatin1String("expense") || kind == QLatin1String("transfer")
        || kind == QLatin1String("lend") || kind == QLatin1String("repay");
    bill.setAmount(negative ? -amount : amount);
    const QDate date = QDate(2023, 1, 1).addDays(between(0, 1300));
    bill.setDate(date);
    bill.setMonth(date.year() * 100 + date.month());
    bill.setDescription(words(4));
    bill.setTitle(chance(30) ? QString() : words(2));
    return true;
}

QList<MBill*> allBills()
{
    return *MBill::get(QStringLiteral(" 1=1 "));
}

class Driver {
public:
    struct Options {
        QStringList kobelFiles;
        QString configPath;
        QString user;
        QString secret;
        QString prefix;
    };

    explicit Driver(const Options& given)
        : options(given)
    {
    }

    bool openBook();
    void run();

private:
    bool insertBill();
    bool updateBill();
    bool deleteBill();
    bool insertReference();
    bool updateReference();
    bool deleteReference();
    bool quickChange();
    bool storeSettings();
    bool synchronise();
    bool reset();
    bool import();

    QJsonArray serverReply(bool migrating);

    Options options;
    int futureSeconds = 0;
};

bool Driver::openBook()
{
    Constants* constants = Constants::getInstance();
    return TestBook::openDefault(constants->getDbDir() + constants->getBookName())
        && DBHelper::getInstance()->upgrade();
}

void Driver::run()
{
    struct Op {
        int weight;
        bool (Driver::*write)();
    };
    const Op ops[] = { { 26, &Driver::insertBill }, { 16, &Driver::updateBill }, { 9, &Driver::deleteBill },
        { 9, &Driver::insertReference }, { 7, &Driver::updateReference }, { 4, &Driver::deleteReference },
        { 7, &Driver::quickChange }, { 1, &Driver::storeSettings }, { 6, &Driver::synchronise }, { 1, &Driver::reset },
        { 2, &Driver::import } };
    int total = 0;
    for (const Op& op : ops)
        total += op.weight;
    say("READY");
    for (;;) {
        int roll = between(1, total);
        for (const Op& op : ops) {
            roll -= op.weight;
            if (roll <= 0) {
                (this->*op.write)();
                break;
            }
        }
    }
}

bool Driver::insertBill()
{
    MBill bill;
    if (!fillBill(bill, pick(billKinds)))
        return false;
    begin({ { QStringLiteral("op"), QStringLiteral("insert") }, { QStringLiteral("table"), QStringLiteral("bill") },
        { QStringLiteral("row"), billFields(bill) } });
    const bool ok = MBill::insert(&bill);
    confirm(ok, QStringLiteral("MBill::insert"), { { QStringLiteral("id"), bill.getId() } });
    return true;
}

bool Driver::updateBill()
{
    const QList<MBill*> bills = allBills();
    if (bills.isEmpty())
        return false;
    MBill* bill = pick(bills);
    MBill changed;
    changed.setId(bill->getId());
    // The dialog may change the kind, and with it every reference.
    if (!fillBill(changed, chance(70) ? bill->getKind() : pick(billKinds)))
        return false;
    begin({ { QStringLiteral("op"), QStringLiteral("update") }, { QStringLiteral("table"), QStringLiteral("bill") },
        { QStringLiteral("id"), changed.getId() }, { QStringLiteral("row"), billFields(changed) } });
    confirm(MBill::update(&changed), QStringLiteral("MBill::update"));
    return true;
}

bool Driver::deleteBill()
{
    const QList<MBill*> bills = allBills();
    if (bills.isEmpty())
        return false;
    const MBill* bill = pick(bills);
    begin({ { QStringLiteral("op"), QStringLiteral("delete") }, { QStringLiteral("table"), QStringLiteral("bill") },
        { QStringLiteral("id"), bill->getId() } });
    confirm(MBill::remove(bill), QStringLiteral("MBill::remove"));
    return true;
}

bool Driver::insertReference()
{
    const QString table = pick(referenceTables);
    QJsonObject row { { QStringLiteral("name"), words(2) + QString::number(between(1, 999)) },
        { QStringLiteral("description"), words(3) }, { QStringLiteral("sort"), QString::number(between(1, 60)) } };
    const QString name = row.value(QLatin1String("name")).toString();
    const QString description = row.value(QLatin1String("description")).toString();
    const int sort = row.value(QLatin1String("sort")).toString().toInt();
    const auto announce = [&] {
        begin({ { QStringLiteral("op"), QStringLiteral("insert") }, { QStringLiteral("table"), table },
            { QStringLiteral("row"), row } });
    };
    QString id;
    bool ok = false;
    if (table == QLatin1String("account")) {
        MAccount account;
        account.setName(name);
        account.setDescription(description);
        account.setSort(sort);
        account.setKind(pick(QStringList { "cash", "card", "credit", "fund", "stock", "other" }));
        account.setAmount(between(-100000, 100000) / 100.0);
        row.insert(QStringLiteral("kind"), account.getKind());
        row.insert(QStringLiteral("amount"), money(account.getAmount()));
        announce();
        ok = MAccount::insert(&account);
        id = account.getId();
    } else if (table == QLatin1String("borrower")) {
        MBorrower borrower;
        borrower.setName(name);
        borrower.setDescription(description);
        borrower.setSort(sort);
        announce();
        ok = MBorrower::insert(&borrower);
        id = borrower.getId();
    } else if (table == QLatin1String("member")) {
        MMember member;
        member.setName(name);
        member.setDescription(description);
        member.setSort(sort);
        announce();
        ok = MMember::insert(&member);
        id = member.getId();
    } else {
        MCategory category;
        category.setName(name);
        category.setDescription(description);
        category.setSort(sort);
        if (table == QLatin1String("category")) {
            category.setKind(chance(70) ? QStringLiteral("expense") : QStringLiteral("income"));
        } else {
            const QStringList parents = liveIds(QStringLiteral("category"));
            if (parents.isEmpty())
                return false;
            const QString parent = pick(parents);
            category.setCategoryId(parent);
            category.setKind(sqlValue(QSqlDatabase::database(),
                QStringLiteral("select kind from tbl_category where id=?"), { parent }, QString())
                                 .toString());
            row.insert(QStringLiteral("category_id"), parent);
        }
        row.insert(QStringLiteral("kind"), category.getKind());
        announce();
        ok = MCategory::insert(&category);
        id = category.getId();
    }
    confirm(ok, table + QStringLiteral(" insert"), { { QStringLiteral("id"), id } });
    return true;
}

bool Driver::updateReference()
{
    const QString table = pick(referenceTables);
    const QStringList ids = liveIds(table);
    if (ids.isEmpty())
        return false;
    const QString id = pick(ids);
    QJsonObject op { { QStringLiteral("op"), QStringLiteral("update") }, { QStringLiteral("table"), table },
        { QStringLiteral("id"), id } };
    const QString name = words(2) + QString::number(between(1, 999));
    const QString description = words(3);
    const int sort = between(1, 60);
    QJsonObject row { { QStringLiteral("name"), name }, { QStringLiteral("description"), description },
        { QStringLiteral("sort"), QString::number(sort) } };
    bool ok = false;
    if (table == QLatin1String("account")) {
        const MAccount* stored = MAccount::getById(id);
        if (!stored)
            return false;
        MAccount account = *stored;
        account.setName(name);
        account.setDescription(description);
        account.setSort(sort);
        if (chance(30))
            account.setAmount(between(-100000, 100000) / 100.0);
        row.insert(QStringLiteral("kind"), account.getKind());
        row.insert(QStringLiteral("amount"), money(account.getAmount()));
        op.insert(QStringLiteral("row"), row);
        begin(op);
        ok = MAccount::update(&account);
    } else if (table == QLatin1String("borrower")) {
        const MBorrower* stored = MBorrower::getById(id);
        if (!stored)
            return false;
        MBorrower borrower = *stored;
        borrower.setName(name);
        borrower.setDescription(description);
        borrower.setSort(sort);
        op.insert(QStringLiteral("row"), row);
        begin(op);
        ok = MBorrower::update(&borrower);
    } else if (table == QLatin1String("member")) {
        const MMember* stored = MMember::getById(id);
        if (!stored)
            return false;
        MMember member = *stored;
        member.setName(name);
        member.setDescription(description);
        member.setSort(sort);
        op.insert(QStringLiteral("row"), row);
        begin(op);
        ok = MMember::update(&member);
    } else {
        const MCategory* stored
            = table == QLatin1String("category") ? MCategory::getById(id) : MCategory::getSubCategoryById(id);
        if (!stored)
            return false;
        MCategory category = *stored;
        category.setName(name);
        category.setDescription(description);
        category.setSort(sort);
        row.insert(QStringLiteral("kind"), category.getKind());
        if (table == QLatin1String("sub_category")) {
            // Now and then under another top category of its kind: its bills go along.
            const QStringList parents = column(
                QStringLiteral("select id from tbl_category where kind=? order by id"), { category.getKind() });
            if (!parents.isEmpty() && chance(40))
                category.setCategoryId(pick(parents));
            row.insert(QStringLiteral("category_id"), category.getCategoryId());
        }
        op.insert(QStringLiteral("row"), row);
        begin(op);
        ok = MCategory::update(&category);
    }
    confirm(ok, table + QStringLiteral(" update"));
    return true;
}

bool Driver::deleteReference()
{
    const QString table = pick(referenceTables);
    QStringList candidates;
    for (const QString& id : liveIds(table)) {
        if (unused(table, id))
            candidates << id;
    }
    if (candidates.isEmpty())
        return false;
    const QString id = pick(candidates);
    begin({ { QStringLiteral("op"), QStringLiteral("delete") }, { QStringLiteral("table"), table },
        { QStringLiteral("id"), id } });
    bool ok = false;
    if (table == QLatin1String("account")) {
        ok = MAccount::remove(id);
    } else if (table == QLatin1String("borrower")) {
        ok = MBorrower::remove(id);
    } else if (table == QLatin1String("member")) {
        ok = MMember::remove(id);
    } else {
        const MCategory* category
            = table == QLatin1String("category") ? MCategory::getById(id) : MCategory::getSubCategoryById(id);
        ok = category && MCategory::remove(category);
    }
    confirm(ok, table + QStringLiteral(" remove"));
    return true;
}

bool Driver::quickChange()
{
    const QString type = pick(QStringList { "account", "member", "category", "borrower" });
    QList<MBill*> bills = allBills();
    QString kind;
    if (type == QLatin1String("category")) {
        kind = chance(70) ? QStringLiteral("expense") : QStringLiteral("income");
        // Every category the combo could stop at must have sub-categories, or the dialog asks
        // whether to make one.
        const QList<MCategory*>* categories = MCategory::get(kind);
        if (categories->isEmpty()
            || std::any_of(categories->cbegin(), categories->cend(),
                [](const MCategory* category) { return category->getChildren().isEmpty(); }))
            return false;
        bills.erase(
            std::remove_if(bills.begin(), bills.end(), [&](const MBill* bill) { return bill->getKind() != kind; }),
            bills.end());
    }
    if (bills.isEmpty())
        return false;
    QList<MBill*> chosen;
    for (int i = between(1, 8); i > 0 && !bills.isEmpty(); --i)
        chosen << bills.takeAt(between(0, int(bills.size()) - 1));

    DQuickChange dialog(type, chosen, nullptr);
    auto* box = dialog.findChild<QComboBox*>(QStringLiteral("comboBox"));
    auto* subBox = dialog.findChild<QComboBox*>(QStringLiteral("comboBox2"));
    auto* ok = dialog.findChild<QPushButton*>(QStringLiteral("pbOK"));
    if (!box || !subBox || !ok || box->count() == 0)
        return false;
    box->setCurrentIndex(between(0, box->count() - 1));
    if (type == QLatin1String("category")) {
        if (subBox->count() == 0)
            return false;
        subBox->setCurrentIndex(between(0, subBox->count() - 1));
    }
    QJsonArray ids;
    for (const MBill* bill : std::as_const(chosen))
        ids.append(bill->getId());
    begin({ { QStringLiteral("op"), QStringLiteral("quick") }, { QStringLiteral("type"), type },
        { QStringLiteral("ids"), ids }, { QStringLiteral("value"), box->currentData().toString() },
        { QStringLiteral("sub"), type == QLatin1String("category") ? subBox->currentData().toString() : QString() } });
    ok->click();
    confirm(dialog.result() == QDialog::Accepted, QStringLiteral("DQuickChange"));
    return true;
}

bool Driver::storeSettings()
{
    DbSetting* setting = DbSetting::getInstance();
    const QString password = QStringLiteral("pw%1").arg(between(1, 9999));
    begin({ { QStringLiteral("op"), QStringLiteral("settings") }, { QStringLiteral("password"), password } });
    setting->setSyncUsername(options.user);
    setting->setSyncPassword(options.secret);
    setting->setPassword(password);
    confirm(setting->save(), QStringLiteral("DbSetting::save"));
    return true;
}

// A change set as the service sends it back: new bills and accounts, later versions of some rows,
// deletions of rows no bill needs. Its versions lie after every version in the book, so each row
// wins; the ids are those the book will have once its default records carry the account's prefix.
QJsonArray Driver::serverReply(bool migrating)
{
    const auto migrated = [&](const QString& id) { return migrating && id.size() == 2 ? options.prefix + id : id; };
    const QDateTime newest = timestampFromText(sqlValue(QSqlDatabase::database(),
        QStringLiteral("select max(v) from (select max(version) v from tbl_bill union all select max(version) from "
                       "tbl_account union all select max(version) from tbl_member union all select "
                       "max(version) from tbl_bill_deleted)"),
        {}, QString())
                                                   .toString());
    QDateTime base = QDateTime::currentDateTimeUtc().addYears(5);
    if (newest.isValid() && newest >= base)
        base = newest.addSecs(1);
    const auto nextVersion = [&] { return timestampToText(base.addSecs(futureSeconds++)); };

    const QStringList billColumns
        = { "id", "title", "amount", "description", "date", "month", "category_id", "sub_category_id", "account_id",
              "to_account_id", "borrower_id", "member_id", "kind", "created_time", "version" };
    QJsonArray billRows;
    QJsonArray billDeletions;
    QStringList keep; // references the reply's bills use
    const auto billRow = [&](const QString& id, MBill& bill) {
        const QString version = nextVersion();
        const QStringList references
            = { migrated(bill.getCategoryId()), migrated(bill.getSubCategoryId()), migrated(bill.getAccountId()),
                  migrated(bill.getToAccountId()), migrated(bill.getBorrowerId()), migrated(bill.getMemberId()) };
        keep << references;
        QJsonArray row { id, bill.getTitle(), money(bill.getAmount()), bill.getDescription(),
            bill.getDate().toString(Qt::ISODate), QString::number(bill.getMonth()) };
        for (const QString& reference : references)
            row.append(reference);
        row.append(bill.getKind());
        row.append(version);
        row.append(version);
        billRows.append(row);
    };
    for (int i = between(0, 2); i > 0; --i) {
        MBill bill;
        if (fillBill(bill, pick(billKinds)))
            billRow(newRecordId(), bill);
    }
    QList<MBill*> bills = allBills();
    for (int i = between(0, 2); i > 0 && !bills.isEmpty(); --i) {
        const MBill* existing = bills.takeAt(between(0, int(bills.size()) - 1));
        MBill bill;
        if (fillBill(bill, existing->getKind()))
            billRow(existing->getId(), bill);
    }
    if (!bills.isEmpty() && chance(50))
        billDeletions.append(QJsonArray { bills.takeAt(between(0, int(bills.size()) - 1))->getId(), nextVersion() });

    QJsonArray reply { QJsonObject { { QStringLiteral("table_name"), QStringLiteral("bill") },
        { QStringLiteral("update_columns"), QJsonArray::fromStringList(billColumns) },
        { QStringLiteral("update_data"), billRows },
        { QStringLiteral("delete_columns"), QJsonArray { "id", "version" } },
        { QStringLiteral("delete_data"), billDeletions } } };

    // An account or a member, new or changed; a record no bill uses deleted.
    for (const QString& table : { QStringLiteral("account"), QStringLiteral("member") }) {
        const bool account = table == QLatin1String("account");
        const QStringList columns = account
            ? QStringList { "id", "name", "kind", "amount", "description", "sort", "version" }
            : QStringList { "id", "name", "description", "sort", "version" };
        QJsonArray rows;
        QJsonArray deletions;
        const QStringList ids = liveIds(table);
        if (chance(60)) {
            const QString id = !ids.isEmpty() && chance(50) ? migrated(pick(ids)) : newRecordId();
            QJsonArray row { id, words(2) + QString::number(between(1, 999)) };
            if (account) {
                row.append(pick(QStringList { "cash", "card", "fund" }));
                row.append(money(between(-5000, 5000) / 100.0));
            }
            row.append(words(2));
            row.append(QString::number(between(1, 60)));
            row.append(nextVersion());
            rows.append(row);
            keep << id;
        }
        if (chance(30)) {
            QStringList candidates;
            for (const QString& id : ids) {
                if (unused(table, id) && !keep.contains(migrated(id)))
                    candidates << migrated(id);
            }
            if (!candidates.isEmpty())
                deletions.append(QJsonArray { pick(candidates), nextVersion() });
        }
        reply.append(QJsonObject { { QStringLiteral("table_name"), table },
            { QStringLiteral("update_columns"), QJsonArray::fromStringList(columns) },
            { QStringLiteral("update_data"), rows },
            { QStringLiteral("delete_columns"), QJsonArray { "id", "version" } },
            { QStringLiteral("delete_data"), deletions } });
    }
    return reply;
}

bool Driver::synchronise()
{
    DbSetting* setting = DbSetting::getInstance();
    if (!setting->hasSyncAccount())
        return storeSettings();
    const bool migrating = setting->getUserId().isEmpty();
    const QJsonArray reply = serverReply(migrating);
    // The service answers this run's upload with the reply: the program's whole road, HTTP included.
    QSaveFile config(options.configPath);
    if (!config.open(QIODevice::WriteOnly))
        failed(QStringLiteral("config file"));
    config.write(compact({ { QStringLiteral("faults"),
        QJsonObject { { QStringLiteral("sync/syncpc2.php"),
            QJsonObject { { QStringLiteral("body"),
                QString::fromUtf8(QJsonDocument(reply).toJson(QJsonDocument::Compact)) } } } } } }));
    if (!config.commit())
        failed(QStringLiteral("config file"));

    begin({ { QStringLiteral("op"), QStringLiteral("sync") }, { QStringLiteral("migrate"), migrating },
        { QStringLiteral("reply"), reply } });
    SyncHelper* sync = SyncHelper::getInstance();
    QEventLoop loop;
    bool finished = false;
    QString error = QStringLiteral("no end");
    QObject::connect(sync, &SyncHelper::syncFinished, &loop, [&] {
        finished = true;
        loop.quit();
    });
    QObject::connect(sync, &SyncHelper::syncError, &loop, [&](int code, const QString& message) {
        error = QStringLiteral("%1 %2").arg(code).arg(message);
        loop.quit();
    });
    QTimer::singleShot(90000, &loop, &QEventLoop::quit);
    if (!sync->sync())
        failed(QStringLiteral("sync refused"));
    loop.exec();
    confirm(finished, QStringLiteral("sync: ") + error);
    return true;
}

bool Driver::reset()
{
    begin({ { QStringLiteral("op"), QStringLiteral("reset") } });
    confirm(BackupHelper::resetBook(), QStringLiteral("BackupHelper::resetBook"));
    return true;
}

bool Driver::import()
{
    const int variant = between(0, int(options.kobelFiles.size()) - 1);
    begin({ { QStringLiteral("op"), QStringLiteral("import") }, { QStringLiteral("variant"), variant } });
    // As the program does it: the book is closed, the next start imports before it opens anything.
    DbSetting::setInstance(nullptr);
    TestBook::closeDefault();
    const bool ok = BackupHelper::kobel(options.kobelFiles.at(variant));
    if (!openBook())
        failed(QStringLiteral("book does not open after the import"));
    confirm(ok, QStringLiteral("BackupHelper::kobel"));
    return true;
}

// Part of a large transaction written, the journal hot beside it, and then the process is gone.
[[noreturn]] void tear(const QString& path)
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("torn"));
        db.setDatabaseName(path);
        QSqlQuery query(db);
        if (!db.open() || !query.exec(QStringLiteral("pragma cache_size=1")) || !query.exec(QStringLiteral("begin")))
            ::_exit(5);
        // Every row rewritten, so that the journal holds every page of the file as it was.
        QStringList tables;
        if (query.exec(QStringLiteral("select name from sqlite_master where type='table'"))) {
            while (query.next())
                tables << query.value(0).toString();
        }
        for (const QString& table : std::as_const(tables)) {
            if (!query.exec(QStringLiteral("update \"%1\" set rowid=rowid").arg(table)))
                ::_exit(5);
        }
        if (!query.exec(QStringLiteral("create table torn_rows (x)")))
            ::_exit(5);
        query.prepare(QStringLiteral("insert into torn_rows values (?)"));
        for (int i = 0; i < 3000; ++i) {
            query.addBindValue(QString(200, QLatin1Char('t')));
            if (!query.exec())
                ::_exit(5);
        }
    }
    std::fflush(nullptr);
    ::raise(SIGKILL);
    ::_exit(6);
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption folder(QStringLiteral("folder"), QStringLiteral("program folder"), QStringLiteral("dir"));
    const QCommandLineOption seed(QStringLiteral("seed"), QStringLiteral("random seed"), QStringLiteral("n"));
    const QCommandLineOption kobel(QStringLiteral("kobel"), QStringLiteral("import file"), QStringLiteral("file"));
    const QCommandLineOption service(
        QStringLiteral("service"), QStringLiteral("service address"), QStringLiteral("url"));
    const QCommandLineOption user(QStringLiteral("user"), QStringLiteral("sync account"), QStringLiteral("name"));
    const QCommandLineOption password(
        QStringLiteral("password"), QStringLiteral("sync password"), QStringLiteral("pw"));
    const QCommandLineOption config(QStringLiteral("config"), QStringLiteral("service config"), QStringLiteral("file"));
    const QCommandLineOption prefix(QStringLiteral("prefix"), QStringLiteral("account id prefix"), QStringLiteral("p"));
    const QCommandLineOption torn(
        QStringLiteral("torn"), QStringLiteral("leave a cut-off write"), QStringLiteral("file"));
    parser.addOptions({ folder, seed, kobel, service, user, password, config, prefix, torn });
    parser.process(app);
    if (parser.isSet(torn))
        tear(parser.value(torn));

    generator.seed(parser.value(seed).toUInt());
    qputenv("QUORVANE_BASE_URL", parser.value(service).toUtf8());
    Constants::Roots roots;
    roots.appDir = QDir(parser.value(folder)).absolutePath();
    Constants::setInstance(new Constants(roots));
    FileSetting::getInstance();

    Driver::Options options;
    options.kobelFiles = parser.values(kobel);
    options.configPath = parser.value(config);
    options.user = parser.value(user);
    options.secret = parser.value(password);
    options.prefix = parser.value(prefix);
    // A message box would wait for a user for ever: the program has reported a failure.
    QTimer watchdog;
    QObject::connect(&watchdog, &QTimer::timeout, [] {
        if (QWidget* box = QApplication::activeModalWidget()) {
            QStringList texts;
            for (const QLabel* label : box->findChildren<QLabel*>())
                texts << label->text();
            failed(QStringLiteral("a message box: ") + texts.join(QLatin1Char(' ')));
        }
    });
    watchdog.start(200);
    Driver driver(options);
    if (!driver.openBook()) {
        std::fprintf(stderr, "quorvane-crashdriver: the book does not open\n");
        return 2;
    }
    driver.run();
}
