#include "randomwrites.h"

#include <QDate>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <type_traits>

#include "data/maccount.h"
#include "data/mbill.h"
#include "data/mborrower.h"
#include "data/mcategory.h"
#include "data/mmember.h"
#include "data/sqlhelper.h"

namespace {

int count(const QString& sql, const QVariantList& values)
{
    return sqlValue(QSqlDatabase::database(), sql, values, 0).toInt();
}

RandomWrites::Outcome outcome(bool ok)
{
    return ok ? RandomWrites::Outcome::Written : RandomWrites::Outcome::Failed;
}

QJsonObject write(const QString& op, const QString& table, const QString& id, const QJsonObject& row)
{
    QJsonObject object { { QStringLiteral("op"), op }, { QStringLiteral("table"), table } };
    if (!id.isEmpty())
        object.insert(QStringLiteral("id"), id);
    if (!row.isEmpty())
        object.insert(QStringLiteral("row"), row);
    return object;
}

} // namespace

RandomWrites::RandomWrites(quint32 seed)
    : generator(seed)
{
}

int RandomWrites::between(int low, int high)
{
    return int(generator.bounded(low, high + 1));
}

bool RandomWrites::chance(int percent)
{
    return between(1, 100) <= percent;
}

QString RandomWrites::words(int most)
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

QString RandomWrites::money(double value)
{
    return QString::number(value, 'g', 15);
}

const QStringList& RandomWrites::billKinds()
{
    static const QStringList kinds = { QStringLiteral("expense"), QStringLiteral("income"), QStringLiteral("transfer"),
        QStringLiteral("lend"), QStringLiteral("borrow"), QStringLiteral("refund"), QStringLiteral("repay") };
    return kinds;
}

const QStringList& RandomWrites::referenceTables()
{
    static const QStringList tables = { QStringLiteral("account"), QStringLiteral("borrower"),
        QStringLiteral("category"), QStringLiteral("sub_category"), QStringLiteral("member") };
    return tables;
}

QStringList RandomWrites::column(const QString& sql, const QVariantList& values)
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

QStringList RandomWrites::liveIds(const QString& table)
{
    return column(QStringLiteral("select id from tbl_%1 order by rowid").arg(table));
}

bool RandomWrites::unused(const QString& table, const QString& id)
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

QList<MBill*> RandomWrites::bills()
{
    return *MBill::get(QStringLiteral(" 1=1 "));
}

QJsonObject RandomWrites::billFields(const MBill& bill)
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

bool RandomWrites::fillBill(MBill& bill, const QString& kind)
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
                                     "s.category_id=c.id where c.kind=? order by s.rowid"));
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

RandomWrites::Outcome RandomWrites::insertBill(const Announce& announce, QString* id)
{
    MBill bill;
    if (!fillBill(bill, pick(billKinds())))
        return Outcome::Skipped;
    announce(write(QStringLiteral("insert"), QStringLiteral("bill"), QString(), billFields(bill)));
    const bool ok = MBill::insert(&bill);
    *id = bill.getId();
    return outcome(ok);
}

RandomWrites::Outcome RandomWrites::updateBill(const Announce& announce)
{
    const QList<MBill*> all = bills();
    if (all.isEmpty())
        return Outcome::Skipped;
    const MBill* bill = pick(all);
    MBill changed;
    changed.setId(bill->getId());
    // The dialog may change the kind, and with it every reference.
    if (!fillBill(changed, chance(70) ? bill->getKind() : pick(billKinds())))
        return Outcome::Skipped;
    announce(write(QStringLiteral("update"), QStringLiteral("bill"), changed.getId(), billFields(changed)));
    return outcome(MBill::update(&changed));
}

RandomWrites::Outcome RandomWrites::deleteBill(const Announce& announce)
{
    const QList<MBill*> all = bills();
    if (all.isEmpty())
        return Outcome::Skipped;
    const MBill* bill = pick(all);
    announce(write(QStringLiteral("delete"), QStringLiteral("bill"), bill->getId(), {}));
    return outcome(MBill::remove(bill));
}

RandomWrites::Outcome RandomWrites::insertReference(const QString& table, const Announce& announce, QString* id)
{
    const QString name = words(2) + QString::number(between(1, 999));
    const QString description = words(3);
    const int sort = between(1, 60);
    QJsonObject row { { QStringLiteral("name"), name }, { QStringLiteral("description"), description },
        { QStringLiteral("sort"), QString::number(sort) } };
    // A new record with the name, description and sort, and what else fill() gives it; skipped when
    // fill() finds nothing to make it on.
    const auto make = [&](auto record, const auto& fill) {
        record.setName(name);
        record.setDescription(description);
        record.setSort(sort);
        if (!fill(record))
            return Outcome::Skipped;
        announce(write(QStringLiteral("insert"), table, QString(), row));
        const bool ok = decltype(record)::insert(&record);
        *id = record.getId();
        return outcome(ok);
    };
    const auto nothingElse = [](const auto&) { return true; };
    if (table == QLatin1String("account")) {
        return make(MAccount(), [&](MAccount& account) {
            account.setKind(pick(QStringList { "cash", "card", "credit", "fund", "stock", "other" }));
            account.setAmount(between(-100000, 100000) / 100.0);
            row.insert(QStringLiteral("kind"), account.getKind());
            row.insert(QStringLiteral("amount"), money(account.getAmount()));
            return true;
        });
    }
    if (table == QLatin1String("borrower"))
        return make(MBorrower(), nothingElse);
    if (table == QLatin1String("member"))
        return make(MMember(), nothingElse);
    return make(MCategory(), [&](MCategory& category) {
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
        return true;
    });
}

RandomWrites::Outcome RandomWrites::updateReference(const QString& table, const Announce& announce)
{
    const QStringList ids = liveIds(table);
    if (ids.isEmpty())
        return Outcome::Skipped;
    const QString id = pick(ids);
    const QString name = words(2) + QString::number(between(1, 999));
    const QString description = words(3);
    const int sort = between(1, 60);
    QJsonObject row { { QStringLiteral("name"), name }, { QStringLiteral("description"), description },
        { QStringLiteral("sort"), QString::number(sort) } };
    // The stored record with the new name, description and sort, and what else change() gives it.
    const auto rewrite = [&](const auto* stored, const auto& change) {
        if (!stored)
            return Outcome::Skipped;
        auto record = *stored;
        record.setName(name);
        record.setDescription(description);
        record.setSort(sort);
        change(record);
        announce(write(QStringLiteral("update"), table, id, row));
        return outcome(std::remove_pointer_t<std::decay_t<decltype(stored)>>::update(&record));
    };
    const auto nothingElse = [](const auto&) {};
    if (table == QLatin1String("account")) {
        return rewrite(MAccount::getById(id), [&](MAccount& account) {
            if (chance(30))
                account.setAmount(between(-100000, 100000) / 100.0);
            row.insert(QStringLiteral("kind"), account.getKind());
            row.insert(QStringLiteral("amount"), money(account.getAmount()));
        });
    }
    if (table == QLatin1String("borrower"))
        return rewrite(MBorrower::getById(id), nothingElse);
    if (table == QLatin1String("member"))
        return rewrite(MMember::getById(id), nothingElse);
    const MCategory* stored
        = table == QLatin1String("category") ? MCategory::getById(id) : MCategory::getSubCategoryById(id);
    return rewrite(stored, [&](MCategory& category) {
        row.insert(QStringLiteral("kind"), category.getKind());
        if (table == QLatin1String("sub_category")) {
            // Now and then under another top category of its kind: its bills go along.
            const QStringList parents = column(
                QStringLiteral("select id from tbl_category where kind=? order by rowid"), { category.getKind() });
            if (!parents.isEmpty() && chance(40))
                category.setCategoryId(pick(parents));
            row.insert(QStringLiteral("category_id"), category.getCategoryId());
        }
    });
}

RandomWrites::Outcome RandomWrites::deleteReference(const QString& table, const Announce& announce)
{
    QStringList candidates;
    for (const QString& id : liveIds(table)) {
        if (unused(table, id))
            candidates << id;
    }
    if (candidates.isEmpty())
        return Outcome::Skipped;
    const QString id = pick(candidates);
    announce(write(QStringLiteral("delete"), table, id, {}));
    if (table == QLatin1String("account"))
        return outcome(MAccount::remove(id));
    if (table == QLatin1String("borrower"))
        return outcome(MBorrower::remove(id));
    if (table == QLatin1String("member"))
        return outcome(MMember::remove(id));
    const MCategory* category
        = table == QLatin1String("category") ? MCategory::getById(id) : MCategory::getSubCategoryById(id);
    return outcome(category && MCategory::remove(category));
}
