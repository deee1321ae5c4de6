#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>
#include <functional>

#include "data/billindex.h"
#include "data/maccount.h"
#include "data/mbill.h"
#include "data/notifier.h"
#include "data/sqlhelper.h"
#include "data/sqltransaction.h"
#include "testenv.h"

namespace {

using Write = std::function<void()>;

// The conditions the tests keep in the index: every bill, a month, an account, a search.
const QStringList Conditions { " 1=1 ", " 1=1  and  month=202401 ",
    " 1=1  and  ( account_id='A' or to_account_id='A') ",
    " 1=1  and  (description like '%x%' escape '\\' or title like "
    "'%x%' escape '\\')" };

// Sixty bills of January and February 2024 over a few accounts and kinds, with what makes the
// order hard: many share a date and a created time (their order is the book's), and with
// otherForms a few hold dates and times in other forms than the program writes (NULL, a number,
// text of another form), which the index orders another way.
void addFixture(bool otherForms)
{
    const QStringList kinds { "expense", "income", "transfer", "lend", "borrow", "refund", "repay" };
    SqlTransaction transaction(QSqlDatabase::database());
    for (int i = 0; i < 60; ++i) {
        const QDate date = QDate(2024, 1, 1).addDays((i * 7) % 45);
        QVariantMap columns { { "title", i % 5 == 0 ? "x" : "t" }, { "account_id", i % 3 == 0 ? "A" : "B" },
            { "created_time", QString("2024-03-01 10:00:%1").arg(i % 4 * 10, 2, 10, QLatin1Char('0')) } };
        if (kinds.at(i % 7) == "transfer")
            columns.insert("to_account_id", i % 2 ? "A" : "B");
        if (i % 7 >= 3)
            columns.insert("borrower_id", i % 2 ? "P" : "Q");
        addBillRow(kinds.at(i % 7), (i % 2 ? 1 : -1) * (i + 0.25), date, columns);
    }
    if (otherForms) {
        QVERIFY(execAll({ "update tbl_bill set created_time=NULL where rowid=5",
            "update tbl_bill set created_time='2024-03-01 10:00:00.500' where rowid=6",
            "update tbl_bill set created_time=20240301 where rowid=7",
            "update tbl_bill set date=20240107 where rowid=8", "update tbl_bill set date='2024-1-7' where rowid=9",
            "update tbl_bill set date='2024-01-07' where rowid=10" }));
    }
    QVERIFY(transaction.commit());
}

QList<qint64> column64(const QString& sql)
{
    QList<qint64> values;
    QSqlQuery query;
    if (!query.exec(sql))
        qWarning("%s: %s", qPrintable(sql), qPrintable(query.lastError().text()));
    while (query.next())
        values << query.value(0).toLongLong();
    return values;
}

QList<qint64> indexed(const QString& condition)
{
    const std::vector<qint64> ids = BillIndex::rowIds(condition, 0, BillIndex::count(condition));
    return QList<qint64>(ids.begin(), ids.end());
}

// True when two sets of totals agree to far below a cent (figures moved by writes add up in
// another order than SQLite's).
bool sameTotals(const BillIndex::Totals& kept, const QHash<QString, double>& read)
{
    QHash<QString, double> nonZero;
    for (auto it = read.cbegin(); it != read.cend(); ++it)
        nonZero.insert(it.key(), it.value());
    const QList<QString> keptKeys = kept.keys();
    const QList<QString> readKeys = nonZero.keys();
    if (QSet<QString>(keptKeys.begin(), keptKeys.end()) != QSet<QString>(readKeys.begin(), readKeys.end())) {
        qWarning() << "kept" << kept << "read" << read;
        return false;
    }
    for (auto it = kept.cbegin(); it != kept.cend(); ++it) {
        if (qAbs(it.value() - nonZero.value(it.key())) > 1e-6) {
            qWarning() << "kept" << kept << "read" << read;
            return false;
        }
    }
    return true;
}

// Everything the index holds against the book read afresh by SQLite.
void verifyAgainstTheBook()
{
    for (const QString& condition : Conditions) {
        QCOMPARE(indexed(condition),
            column64("select rowid from tbl_bill where " + condition + " order by date desc, created_time desc"));
        QVERIFY(sameTotals(BillIndex::totals(condition),
            sqlTotals("select kind, total(amount) from tbl_bill where " + condition + " group by kind")));
    }
    QList<int> months;
    for (qint64 month : column64("select distinct month from tbl_bill order by month desc"))
        months << int(month);
    QCOMPARE(BillIndex::months(), months);
    for (int month : months) {
        QVERIFY(sameTotals(BillIndex::monthTotals(month),
            sqlTotals(QString("select kind, total(amount) from tbl_bill where month=%1 group by kind").arg(month))));
    }
    QVERIFY(sameTotals(BillIndex::sums(BillIndex::SumColumn::Account),
        sqlTotals("select account_id, total(amount) from tbl_bill group by account_id")));
    QVERIFY(sameTotals(BillIndex::sums(BillIndex::SumColumn::ToAccount),
        sqlTotals("select to_account_id, total(amount) from tbl_bill group by to_account_id")));
    QVERIFY(sameTotals(BillIndex::sums(BillIndex::SumColumn::Borrower),
        sqlTotals("select borrower_id, total(amount) from tbl_bill group by borrower_id")));
}

MBill* billWithRowId(qint64 rowId)
{
    const QString id = scalar(QString("select id from tbl_bill where rowid=%1").arg(rowId)).toString();
    for (MBill* bill : *MBill::get(" 1=1 ")) {
        if (bill->getId() == id)
            return bill;
    }
    return nullptr;
}

void setDate(MBill* bill, const QDate& date)
{
    bill->setDate(date);
    bill->setMonth(date.year() * 100 + date.month());
}

} // namespace

class TestBillIndex : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void matchesTheBookAfterEveryWrite_data();
    void matchesTheBookAfterEveryWrite();
    void writesBehindTheRecordsAreReadAgain_data();
    void writesBehindTheRecordsAreReadAgain();
    void pagesMakeUpTheList();
    void conditionsWithoutBills_data();
    void conditionsWithoutBills();
    void pagesShowTheBillsAsWritten();

private:
    std::unique_ptr<TestEnv> env;
    std::unique_ptr<TestBook> book;
    std::vector<std::unique_ptr<MBill>> owned;
};

void TestBillIndex::init()
{
    env = std::make_unique<TestEnv>();
    book = std::make_unique<TestBook>(env->dataDir() + "book.db");
    QVERIFY(book->isOpen());
}

void TestBillIndex::cleanup()
{
    owned.clear();
    book.reset();
    env.reset();
}

void TestBillIndex::matchesTheBookAfterEveryWrite_data()
{
    // A write through the bill records; bills of the fixture are named by their row ids.
    QTest::addColumn<bool>("otherForms");
    QTest::addColumn<Write>("write");
    std::vector<std::pair<const char*, Write>> writes;
    const auto fresh = [this](const QDate& date, const QString& kind, double amount) {
        owned.push_back(std::make_unique<MBill>());
        MBill* bill = owned.back().get();
        bill->setKind(kind);
        bill->setAmount(amount);
        bill->setDescription("");
        bill->setAccountId("A");
        setDate(bill, date);
        return bill;
    };

    writes.emplace_back(
        "added as the newest", Write([=] { QVERIFY(MBill::insert(fresh(QDate(2024, 2, 20), "expense", -3))); }));
    writes.emplace_back("added as the oldest, in a new month",
        Write([=] { QVERIFY(MBill::insert(fresh(QDate(2023, 12, 1), "income", 9))); }));
    writes.emplace_back("added among bills of the same day",
        Write([=] { QVERIFY(MBill::insert(fresh(QDate(2024, 1, 8), "lend", -1))); }));
    writes.emplace_back("moved to another page", Write([] {
        MBill* bill = billWithRowId(40);
        setDate(bill, QDate(2024, 2, 28));
        QVERIFY(MBill::update(bill));
    }));
    writes.emplace_back("kind, amount and account changed", Write([] {
        MBill* bill = billWithRowId(3);
        bill->setKind("income");
        bill->setAmount(1000);
        bill->setAccountId("A");
        QVERIFY(MBill::update(bill));
    }));
    writes.emplace_back("moved out of the filters", Write([] {
        MBill* bill = billWithRowId(1);
        bill->setAccountId("C");
        bill->setTitle("y");
        QVERIFY(MBill::update(bill));
    }));
    writes.emplace_back("written from a copy", Write([] {
        const std::unique_ptr<MBill> copy(billWithRowId(12)->clone());
        copy->setId(billWithRowId(12)->getId());
        setDate(copy.get(), QDate(2023, 11, 30));
        QVERIFY(MBill::update(copy.get()));
    }));
    writes.emplace_back("of odd forms changed", Write([] {
        // (A date the records cannot read is not written back: rows 8 and 9 stay.)
        for (qint64 rowId : { 5, 6, 7, 10 }) {
            MBill* bill = billWithRowId(rowId);
            bill->setAmount(bill->getAmount() + 1);
            QVERIFY(MBill::update(bill));
        }
    }));
    writes.emplace_back("removed", Write([] { QVERIFY(MBill::remove(billWithRowId(30))); }));
    writes.emplace_back("every bill of a month removed", Write([] {
        for (MBill* bill : QList<MBill*>(*MBill::get(" 1=1 "))) {
            if (bill->getMonth() == 202402)
                QVERIFY(MBill::remove(bill));
        }
    }));
    writes.emplace_back("several in a batch", Write([=] {
        MBill::Batch batch;
        QVERIFY(MBill::insert(fresh(QDate(2024, 1, 31), "refund", 4)));
        QVERIFY(MBill::remove(billWithRowId(20)));
        MBill* bill = billWithRowId(21);
        setDate(bill, QDate(2024, 1, 2));
        QVERIFY(MBill::update(bill));
    }));
    writes.emplace_back("a write that fails", Write([=] {
        MBill* bill = fresh(QDate(2024, 1, 5), "expense", -1);
        bill->setDate(QDate());
        QVERIFY(!MBill::insert(bill));
    }));
    writes.emplace_back("a write the book refuses", Write([] {
        QVERIFY(execAll({ "create trigger refuse before update on tbl_bill begin select raise(abort, 'no'); end" }));
        MBill* bill = billWithRowId(2);
        setDate(bill, QDate(2024, 2, 1));
        QVERIFY(!MBill::update(bill));
    }));
    writes.emplace_back("a removal the book skips", Write([] {
        QVERIFY(execAll({ "create trigger keep before delete on tbl_bill begin select raise(ignore); end" }));
        QVERIFY(MBill::remove(billWithRowId(2)));
        QCOMPARE(scalar("select count(*) from tbl_bill").toInt(), 60);
    }));
    for (const auto& [name, write] : writes) {
        QTest::newRow(name) << false << write;
        QTest::newRow(qPrintable(QString(name) + ", other forms")) << true << write;
    }
}

void TestBillIndex::matchesTheBookAfterEveryWrite()
{
    QFETCH(bool, otherForms);
    QFETCH(Write, write);
    addFixture(otherForms);
    verifyAgainstTheBook(); // builds everything before the write
    write();
    verifyAgainstTheBook();
}

void TestBillIndex::writesBehindTheRecordsAreReadAgain_data()
{
    QTest::addColumn<Write>("write");
    const QStringList moves { "update tbl_bill set amount=amount*2, month=202403, date='2024-03-02' where rowid<20",
        "delete from tbl_bill where rowid>50",
        "insert into tbl_bill (id, amount, description, date, month, kind) "
        "values ('new', 7, '', '2024-01-09', 202401, 'income')" };
    QTest::newRow("SQL of its own, then clearCache") << Write([=] {
        QVERIFY(execAll(moves));
        MBill::clearCache();
    });
    QTest::newRow("SQL of its own, then an announcement") << Write([=] {
        QVERIFY(execAll(moves));
        Notifier::getInstance()->notifyBillDataChanged();
    });
    QTest::newRow("bill writes rolled back") << Write([] {
        MBill::Batch batch;
        SqlTransaction transaction(QSqlDatabase::database());
        QVERIFY(MBill::remove(billWithRowId(3)));
        MBill* bill = billWithRowId(4);
        setDate(bill, QDate(2024, 2, 27));
        QVERIFY(MBill::update(bill));
        transaction.rollback();
    });
    QTest::newRow("SQL of its own, then the account records reload") << Write([] {
        QVERIFY(execAll({ "update tbl_bill set account_id='A', to_account_id='B', borrower_id='P' where rowid<30" }));
        MAccount::clearCache();
        // The lists of bills did not change; the sums are read again.
        QVERIFY(sameTotals(BillIndex::sums(BillIndex::SumColumn::Account),
            sqlTotals("select account_id, total(amount) from tbl_bill group by account_id")));
        QVERIFY(sameTotals(BillIndex::sums(BillIndex::SumColumn::Borrower),
            sqlTotals("select borrower_id, total(amount) from tbl_bill group by borrower_id")));
        MBill::clearCache();
    });
}

void TestBillIndex::writesBehindTheRecordsAreReadAgain()
{
    QFETCH(Write, write);
    addFixture(true);
    verifyAgainstTheBook();
    write();
    verifyAgainstTheBook();
}

void TestBillIndex::pagesMakeUpTheList()
{
    addFixture(false);
    const QString condition = " 1=1 ";
    const QList<qint64> list = indexed(condition);
    QCOMPARE(list.size(), 60);
    for (int size : { 1, 7, 20, 59, 60, 61 }) {
        QList<qint64> pages;
        for (int from = 0; from < BillIndex::count(condition); from += size) {
            const std::vector<qint64> page = BillIndex::rowIds(condition, from, size);
            QCOMPARE(int(page.size()), std::min(size, 60 - from));
            pages += QList<qint64>(page.begin(), page.end());
        }
        QCOMPARE(pages, list);
    }
    QVERIFY(BillIndex::rowIds(condition, 60, 20).empty());
    QCOMPARE(BillIndex::rowIds(condition, -5, 7), std::vector<qint64>({ list.at(0), list.at(1) }));

    // The bills of a page are those of the whole list at its places, as the same objects.
    const QList<MBill*> all = *MBill::get(condition);
    QCOMPARE(MBill::getRange(condition, 20, 20), all.mid(20, 20));
    QCOMPARE(MBill::getRange(condition, 55, 20), all.mid(55));
    QCOMPARE(MBill::count(condition), 60);
}

void TestBillIndex::conditionsWithoutBills_data()
{
    QTest::addColumn<QString>("condition");
    QTest::newRow("no bill matches") << " 1=1  and  month=209912 ";
    QTest::newRow("the book rejects it") << " 1=1  and no_such_column=1";
}

void TestBillIndex::conditionsWithoutBills()
{
    QFETCH(QString, condition);
    addFixture(true);
    QCOMPARE(BillIndex::count(condition), 0);
    QVERIFY(BillIndex::rowIds(condition, 0, 20).empty());
    QVERIFY(BillIndex::totals(condition).isEmpty());
    QVERIFY(MBill::getRange(condition, 0, 20).isEmpty());
    // Writes go on being followed with such a condition kept.
    MBill bill;
    bill.setKind("expense");
    bill.setAmount(-1);
    bill.setDescription("");
    setDate(&bill, QDate(2024, 2, 3));
    QVERIFY(MBill::insert(&bill));
    QCOMPARE(BillIndex::count(condition), 0);
    verifyAgainstTheBook();

    // A book without bills.
    QVERIFY(execAll({ "delete from tbl_bill" }));
    MBill::clearCache();
    QCOMPARE(BillIndex::count(" 1=1 "), 0);
    QVERIFY(BillIndex::months().isEmpty());
    QVERIFY(BillIndex::totals(" 1=1 ").isEmpty());
    QVERIFY(BillIndex::sums(BillIndex::SumColumn::Account).isEmpty());
}

void TestBillIndex::pagesShowTheBillsAsWritten()
{
    addFixture(true);
    // The newest bill of a date the records can read (a text date of another form sorts first).
    const QString condition = " 1=1 ";
    MBill* first = MBill::getRange(condition, 1, 1).value(0);
    QVERIFY(first && first->getDate().isValid());
    // Written from a copy: the page's object shows the stored row.
    const std::unique_ptr<MBill> copy(first->clone());
    copy->setId(first->getId());
    copy->setTitle("改过");
    QVERIFY(MBill::update(copy.get()));
    QCOMPARE(MBill::getRange(condition, 1, 1).value(0), first);
    QCOMPARE(first->getTitle(), QString("改过"));

    // Changed behind the records: shown as stored once clearCache() has run.
    QVERIFY(execAll({ "update tbl_bill set title='又改' where id='" + first->getId() + "'" }));
    MBill::clearCache();
    QCOMPARE(MBill::getRange(condition, 1, 1).value(0), first);
    QCOMPARE(first->getTitle(), QString("又改"));
}

QTEST_GUILESS_MAIN(TestBillIndex)
#include "tst_billindex.moc"
