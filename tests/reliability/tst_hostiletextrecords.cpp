// The hostile texts stored through every record class and the import, then written to the export
// file and the printout: each comes back exactly as it went in, as text.
#include <QTest>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextDocumentFragment>
#include <QTextTable>
#include <memory>

#include "bills/exporthelper.h"
#include "bills/printhelper.h"
#include "data/backuphelper.h"
#include "data/constants.h"
#include "data/maccount.h"
#include "data/mbill.h"
#include "data/mborrower.h"
#include "data/mcategory.h"
#include "data/mmember.h"
#include "data/sqlhelper.h"
#include "exportedtable.h"
#include "hostiletext.h"
#include "kobelfixture.h"
#include "testenv.h"

using HostileText::flowing;

namespace {

// The column of the row with id, read with a bound statement; "<no row>" when there is none.
QString stored(const QString& table, const QString& column, const QString& id)
{
    return sqlValue(QSqlDatabase::database(), QStringLiteral("select %1 from %2 where id=?").arg(column, table), { id },
        QStringLiteral("<no row>"))
        .toString();
}

// One record of each class named text, and a bill on them whose title and description are text.
struct Records {
    QString account;
    QString category;
    QString subCategory;
    QString toAccount;
    QString borrower;
    QString member;
};

bool addRecords(const QString& text, Records* ids, const QString& kind = QStringLiteral("expense"))
{
    MAccount account;
    account.setName(text);
    account.setKind(QStringLiteral("cash"));
    account.setDescription(text);
    MAccount toAccount;
    toAccount.setName(text + QStringLiteral("转入"));
    toAccount.setKind(QStringLiteral("card"));
    MCategory category;
    category.setName(text);
    category.setKind(kind);
    category.setDescription(text);
    MBorrower borrower;
    borrower.setName(text);
    borrower.setDescription(text);
    MMember member;
    member.setName(text);
    member.setDescription(text);
    if (!MAccount::insert(&account) || !MAccount::insert(&toAccount) || !MCategory::insert(&category)
        || !MBorrower::insert(&borrower) || !MMember::insert(&member))
        return false;
    MCategory sub;
    sub.setName(text + QStringLiteral("子"));
    sub.setKind(kind);
    sub.setDescription(text);
    sub.setCategoryId(category.getId());
    if (!MCategory::insert(&sub))
        return false;
    *ids = { account.getId(), category.getId(), sub.getId(), toAccount.getId(), borrower.getId(), member.getId() };
    return true;
}

MBill* newBill(const Records& ids, const QString& kind, const QString& text)
{
    auto* bill = new MBill;
    bill->setKind(kind);
    bill->setAmount(kind == QLatin1String("income") ? 12.5 : -12.5);
    bill->setDate(QDate(2013, 7, 5));
    bill->setMonth(201307);
    bill->setTitle(text);
    bill->setDescription(text + QStringLiteral("说明"));
    bill->setAccountId(ids.account);
    bill->setCategoryId(ids.category);
    bill->setSubCategoryId(ids.subCategory);
    bill->setToAccountId(ids.toAccount);
    bill->setBorrowerId(ids.borrower);
    bill->setMemberId(ids.member);
    return bill;
}

// The cells of the first table of a rich-text document, row by row.
QList<QStringList> documentTable(QTextDocument& document)
{
    QList<QStringList> rows;
    QTextTable* table = nullptr;
    for (QTextBlock block = document.begin(); block.isValid() && !table; block = block.next())
        table = QTextCursor(block).currentTable();
    if (!table)
        return rows;
    for (int row = 0; row < table->rows(); ++row) {
        QStringList cells;
        for (int column = 0; column < table->columns(); ++column) {
            const QTextTableCell cell = table->cellAt(row, column);
            if (cell.column() != column || cell.row() != row)
                continue; // covered by a cell that spans it
            QTextCursor cursor = cell.firstCursorPosition();
            cursor.setPosition(cell.lastCursorPosition().position(), QTextCursor::KeepAnchor);
            cells << cursor.selection().toPlainText();
        }
        rows << cells;
    }
    return rows;
}

// Records named text and an expense, a transfer and a loan with text in every text they have.
bool addBillsNamed(const QString& text, std::vector<std::unique_ptr<MBill>>* bills)
{
    Records ids;
    if (!addRecords(text, &ids))
        return false;
    for (const char* kind : { "expense", "transfer", "lend" }) {
        bills->emplace_back(newBill(ids, kind, text));
        if (!MBill::insert(bills->back().get()))
            return false;
    }
    return true;
}

// A borrower or a member with text as name and note: what the book and the fresh cache hold, then
// the book again after both changed to changed.
template <typename Record>
void storeNamed(const QString& table, const QString& text, const QString& changed, QStringList* got)
{
    Record record;
    record.setName(text);
    record.setDescription(text);
    QVERIFY(Record::insert(&record));
    const QString id = record.getId();
    *got << stored(table, "name", id) << stored(table, "description", id);
    Record::clearCache();
    *got << Record::getById(id)->getName() << Record::getById(id)->getDescription();
    record.setName(changed);
    record.setDescription(changed);
    QVERIFY(Record::update(&record));
    *got << stored(table, "name", id) << stored(table, "description", id);
}

} // namespace

class TestHostileTextRecords : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void recordClassesStoreTheText_data();
    void recordClassesStoreTheText();
    void importKeepsTheText_data();
    void importKeepsTheText();
    void exportFileReadsBackTheText_data();
    void exportFileReadsBackTheText();
    void printoutShowsTheTextAsText_data();
    void printoutShowsTheTextAsText();

private:
    std::unique_ptr<TestEnv> env;
    std::unique_ptr<TestBook> book;
};

void TestHostileTextRecords::init()
{
    env = std::make_unique<TestEnv>();
    book = std::make_unique<TestBook>(env->dataDir() + Constants::getInstance()->getBookName());
    QVERIFY(book->isOpen());
}

void TestHostileTextRecords::cleanup()
{
    book.reset();
    env.reset();
}

void TestHostileTextRecords::recordClassesStoreTheText_data()
{
    QTest::addColumn<QString>("record");
    QTest::addColumn<QString>("text");
    for (const char* record : { "account", "category", "sub-category", "borrower", "member", "bill" }) {
        for (const HostileText::Entry& entry : HostileText::all())
            QTest::addRow("%s: %s", record, entry.name) << QString::fromLatin1(record) << entry.text;
    }
}

void TestHostileTextRecords::recordClassesStoreTheText()
{
    QFETCH(QString, record);
    QFETCH(QString, text);

    // Written through the class, read back from the book and from the class's fresh cache; then
    // changed to another hostile text and read back again.
    const QString changed = QStringLiteral("改") + text + QStringLiteral("'");
    QStringList got;
    if (record == "account") {
        MAccount account;
        account.setName(text);
        account.setKind("cash");
        account.setDescription(text);
        QVERIFY(MAccount::insert(&account));
        got << stored("tbl_account", "name", account.getId()) << stored("tbl_account", "description", account.getId());
        MAccount::clearCache();
        got << MAccount::getById(account.getId())->getName() << MAccount::getById(account.getId())->getDescription();
        account.setName(changed);
        account.setDescription(changed);
        QVERIFY(MAccount::update(&account));
        got << stored("tbl_account", "name", account.getId()) << stored("tbl_account", "description", account.getId());
    } else if (record == "category" || record == "sub-category") {
        const bool sub = record == "sub-category";
        MCategory parent;
        parent.setName("上级");
        parent.setKind("income");
        QVERIFY(MCategory::insert(&parent));
        MCategory category;
        category.setName(text);
        category.setKind("income");
        category.setDescription(text);
        if (sub)
            category.setCategoryId(parent.getId());
        QVERIFY(MCategory::insert(&category));
        const QString table = sub ? "tbl_sub_category" : "tbl_category";
        got << stored(table, "name", category.getId()) << stored(table, "description", category.getId());
        MCategory::clearCache();
        MCategory* read = sub ? MCategory::getSubCategoryById(category.getId()) : MCategory::getById(category.getId());
        QVERIFY(read);
        got << read->getName() << read->getDescription();
        category.setName(changed);
        category.setDescription(changed);
        QVERIFY(MCategory::update(&category));
        got << stored(table, "name", category.getId()) << stored(table, "description", category.getId());
    } else if (record == "borrower") {
        storeNamed<MBorrower>("tbl_borrower", text, changed, &got);
    } else if (record == "member") {
        storeNamed<MMember>("tbl_member", text, changed, &got);
    } else {
        Records ids;
        QVERIFY(addRecords(QStringLiteral("参照"), &ids));
        std::unique_ptr<MBill> bill(newBill(ids, "expense", text));
        bill->setDescription(text);
        QVERIFY(MBill::insert(bill.get()));
        const QString id = bill->getId();
        got << stored("tbl_bill", "title", id) << stored("tbl_bill", "description", id);
        // The bills are read by the bill index's own reader, not by the SQL driver.
        MBill::clearCache();
        const QList<MBill*> bills = *MBill::get(" 1=1 and id=" + sqlText(id));
        QCOMPARE(bills.size(), 1);
        got << bills.first()->getTitle() << bills.first()->getDescription();
        bill->setTitle(changed);
        bill->setDescription(changed);
        QVERIFY(MBill::update(bill.get()));
        got << stored("tbl_bill", "title", id) << stored("tbl_bill", "description", id);
    }
    QCOMPARE(got.size(), 6);
    for (int i = 0; i < 4; ++i)
        QVERIFY2(got.at(i) == text, qPrintable(QString("read %1 differs: %2").arg(i).arg(got.at(i).left(80))));
    QVERIFY2(got.at(4) == changed && got.at(5) == changed, qPrintable(got.at(4).left(80)));
}

void TestHostileTextRecords::importKeepsTheText_data()
{
    HostileText::addRows();
}

void TestHostileTextRecords::importKeepsTheText()
{
    QFETCH(QString, text);
    const QString file = env->root() + "/kobel.db";
    QVERIFY(KobelFixture::make(file, KobelFixture::Complete));
    QVERIFY(withBookConnection(file, "hostile-kobel", BookAccess::ReadWrite, [&text](QSqlDatabase& db) {
        return execWrite(db, "update kbl_accounts set name=?, description=?", { text, text })
            && execWrite(db, "update kbl_catelogs set name=?", { text })
            && execWrite(db, "update kbl_borrowers set name=?", { text })
            && execWrite(db, "update kbl_bills set title=?, description=?", { text, text });
    }));
    TestBook::closeDefault();

    int skipped = -1;
    QVERIFY(BackupHelper::kobel(file, &skipped));
    QCOMPARE(skipped, 0);
    const QString path = book->path();
    for (const char* sql : { "select name from tbl_account", "select description from tbl_account",
             "select name from tbl_category", "select name from tbl_sub_category", "select name from tbl_borrower",
             "select title from tbl_bill", "select description from tbl_bill" }) {
        const QStringList values = KobelFixture::columnIn(path, QString::fromLatin1(sql));
        QVERIFY2(!values.isEmpty(), sql);
        for (const QString& value : values)
            QVERIFY2(value == text, qPrintable(QString("%1: %2").arg(sql, value.left(80))));
    }
}

void TestHostileTextRecords::exportFileReadsBackTheText_data()
{
    HostileText::addRows();
}

void TestHostileTextRecords::exportFileReadsBackTheText()
{
    QFETCH(QString, text);
    std::vector<std::unique_ptr<MBill>> bills;
    QVERIFY(addBillsNamed(text, &bills));

    const QString path = env->root() + "/bills.xls";
    QList<MBill*> list = *MBill::get(" 1=1 ");
    QCOMPARE(list.size(), 3);
    QVERIFY(ExportHelper::exportBills(path, &list));
    QString error;
    const QList<QStringList> table = exportedTable(path, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(table.size(), 4);
    for (int row = 1; row < 4; ++row) {
        const QStringList& cells = table.at(row);
        QCOMPARE(cells.size(), 11);
        // account, category, sub-category, target account, borrower, member, title, description
        const QStringList expected { text, text, text + "子", text + "转入", text, text, text, text + "说明" };
        for (int column = 3; column < 11; ++column)
            QVERIFY2(cells.at(column) == expected.at(column - 3),
                qPrintable(QString("row %1 column %2: %3").arg(row).arg(column).arg(cells.at(column).left(80))));
    }
}

void TestHostileTextRecords::printoutShowsTheTextAsText_data()
{
    HostileText::addRows();
}

void TestHostileTextRecords::printoutShowsTheTextAsText()
{
    QFETCH(QString, text);
    std::vector<std::unique_ptr<MBill>> bills;
    QVERIFY(addBillsNamed(text, &bills));

    // The page the printer gets, read as the printer reads it: one date row, a row per bill with
    // four cells each, the texts as they are stored.
    PrintHelper printer;
    QList<MBill*> list = *MBill::get(" 1=1 ");
    const QString html = printer.billsHtml(&list);
    QTextDocument document;
    document.setHtml(html);
    const QList<QStringList> table = documentTable(document);
    QCOMPARE(table.size(), 5);
    QCOMPARE(table.at(1), QStringList { "2013-07-05" });
    QStringList usages;
    for (int row = 2; row < 5; ++row) {
        const QStringList& cells = table.at(row);
        QCOMPARE(cells.size(), 4);
        usages << flowing(cells.at(0));
        QCOMPARE(flowing(cells.at(2)), flowing(text));
        QCOMPARE(flowing(cells.at(3)), flowing(text));
    }
    usages.sort();
    QStringList expected { flowing(text + " - " + text + "子"), flowing(text + "转入"), flowing(text) };
    expected.sort();
    QCOMPARE(usages, expected);
}

QTEST_MAIN(TestHostileTextRecords)
#include "tst_hostiletextrecords.moc"
