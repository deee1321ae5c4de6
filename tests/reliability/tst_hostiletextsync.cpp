// The hostile texts through the synchronisation with a real quorvane-service: a book uploads
// records of all six tables named with the text, the service stores them exactly, and a second
// book of the same account receives them in the service's reply and stores them exactly.
#include <QJsonArray>
#include <QJsonDocument>
#include <QSqlQuery>
#include <QTest>
#include <memory>

#include "data/maccount.h"
#include "data/mbill.h"
#include "data/mborrower.h"
#include "data/mcategory.h"
#include "data/mmember.h"
#include "data/sqlhelper.h"
#include "hostiletext.h"
#include "servicefixture.h"
#include "servicestore.h"
#include "testenv.h"

namespace {

// Where each text went: table, id and the columns that hold the text.
struct Written {
    QString table;
    QString id;
    QStringList columns;
};

// One record of each table with the text in every text column, written through the record classes.
QList<Written> writeRecords(const QString& text)
{
    QList<Written> written;
    MAccount account;
    account.setName(text);
    account.setKind("cash");
    account.setDescription(text);
    if (MAccount::insert(&account))
        written.append({ "account", account.getId(), { "name", "description" } });
    MCategory category;
    category.setName(text);
    category.setKind("expense");
    category.setDescription(text);
    if (MCategory::insert(&category))
        written.append({ "category", category.getId(), { "name", "description" } });
    MCategory sub;
    sub.setName(text);
    sub.setKind("expense");
    sub.setDescription(text);
    sub.setCategoryId(category.getId());
    if (MCategory::insert(&sub))
        written.append({ "sub_category", sub.getId(), { "name", "description" } });
    MBorrower borrower;
    borrower.setName(text);
    borrower.setDescription(text);
    if (MBorrower::insert(&borrower))
        written.append({ "borrower", borrower.getId(), { "name", "description" } });
    MMember member;
    member.setName(text);
    member.setDescription(text);
    if (MMember::insert(&member))
        written.append({ "member", member.getId(), { "name", "description" } });
    MBill bill;
    bill.setKind("expense");
    bill.setAmount(-12.5);
    bill.setDate(QDate(2013, 7, 5));
    bill.setMonth(201307);
    bill.setTitle(text);
    bill.setDescription(text);
    bill.setAccountId(account.getId());
    bill.setCategoryId(category.getId());
    bill.setSubCategoryId(sub.getId());
    bill.setMemberId(member.getId());
    if (MBill::insert(&bill))
        written.append({ "bill", bill.getId(), { "title", "description" } });
    return written;
}

// The cell of column in the service's stored record, or "<missing>".
QString storedAtService(const ServiceFixture& service, const QString& table, const QString& id, const QString& column)
{
    QString value = QStringLiteral("<missing>");
    service.withStore("service-data", [&](QSqlDatabase& db) {
        QSqlQuery query(db);
        query.prepare("select columns, cells from records where tbl=? and id=?");
        query.addBindValue(ServiceStore::tableNames().indexOf(table));
        query.addBindValue(id);
        if (!query.exec() || !query.next())
            return false;
        const QString columnText = query.value(0).toString();
        const QStringList columns
            = columnText == "*" ? ServiceStore::columnsOf(table) : columnText.split(',', Qt::SkipEmptyParts);
        const QJsonArray cells = QJsonDocument::fromJson(query.value(1).toString().toUtf8()).array();
        const qsizetype at = columns.indexOf(column);
        if (at >= 0 && at < cells.size())
            value = cells.at(at).toString();
        return true;
    });
    return value;
}

QString storedInBook(const QString& table, const QString& id, const QString& column)
{
    return sqlValue(QSqlDatabase::database(), QString("select %1 from tbl_%2 where id=?").arg(column, table), { id },
        QStringLiteral("<missing>"))
        .toString();
}

} // namespace

class TestHostileTextSync : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void uploadAndReplyKeepTheText_data();
    void uploadAndReplyKeepTheText();

private:
    ServiceFixture service;
};

void TestHostileTextSync::initTestCase()
{
    QVERIFY2(service.start(), qPrintable(service.errorText()));
}

void TestHostileTextSync::uploadAndReplyKeepTheText_data()
{
    HostileText::addRows();
}

void TestHostileTextSync::uploadAndReplyKeepTheText()
{
    QFETCH(QString, text);
    AccountBook first(service);
    QVERIFY2(first.isReady(), qPrintable(first.errorText()));
    const QList<Written> written = writeRecords(text);
    QCOMPARE(written.size(), 6);

    // The upload: the service holds every text as it was written.
    SyncOutcome outcome = runSync();
    QVERIFY2(outcome.finished, qPrintable(QString("%1 %2").arg(outcome.code).arg(outcome.message)));
    for (const Written& record : written) {
        for (const QString& column : record.columns) {
            const QString atService = storedAtService(service, record.table, record.id, column);
            QVERIFY2(atService == text, qPrintable(record.table + "." + column + ": " + atService.left(80)));
        }
    }

    // The reply: a new book of the same account gets every text as the service holds it.
    QVERIFY(first.openSecondBook("second.db"));
    outcome = runSync();
    QVERIFY2(outcome.finished, qPrintable(QString("%1 %2").arg(outcome.code).arg(outcome.message)));
    for (const Written& record : written) {
        for (const QString& column : record.columns) {
            const QString inBook = storedInBook(record.table, record.id, column);
            QVERIFY2(inBook == text, qPrintable(record.table + "." + column + ": " + inBook.left(80)));
        }
    }
    // And the records the program reads from it show the text.
    QCOMPARE(MAccount::getById(written.at(0).id)->getName(), text);
    QCOMPARE(MBill::get(" 1=1 and id=" + sqlText(written.last().id))->value(0)->getTitle(), text);
    TestBook::openDefault(first.path());
}

QTEST_MAIN(TestHostileTextSync)
#include "tst_hostiletextsync.moc"
