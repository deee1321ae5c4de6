// The book generator: a demo book must behave as one the program wrote, its change stamps above all.
#include <QDateTime>
#include <QTest>

#include "bookgenerator.h"
#include "testenv.h"

class TestBookGenerator : public QObject {
    Q_OBJECT

private slots:
    void versionsAreNeverLaterThanTheClock();
};

void TestBookGenerator::versionsAreNeverLaterThanTheClock()
{
    TestEnv env;
    const QString path = env.dataDir() + "demo.db";
    BookGenerator::Options options;
    options.bills = 10000;
    options.years = 1;
    const QString before = QDateTime::currentDateTimeUtc().toString("yyyy-MM-dd hh:mm:ss");
    QString error;
    QVERIFY2(BookGenerator::generate(path, options, &error), qPrintable(error));
    const QString after = QDateTime::currentDateTimeUtc().toString("yyyy-MM-dd hh:mm:ss");

    // Bills of today, at times of day still to come, are there; none is stamped after the book was written.
    const QString today = QDate::currentDate().toString(Qt::ISODate);
    QVERIFY(valueIn(path, "select count(*) from tbl_bill where date='" + today + "'").toInt() > 0);
    QVERIFY(valueIn(path, "select max(version) from tbl_bill").toString() <= after);
    QCOMPARE(valueIn(path, "select count(*) from tbl_bill where version is null or version=''").toInt(), 0);
    // Bills of the days before keep the stamps of their own times.
    QVERIFY(
        valueIn(path, "select count(distinct version) from tbl_bill where version<'" + before + "'").toInt() > 9000);

    // A change of the latest bill is stamped later than it was, so a synchronisation keeps the change.
    QVERIFY(TestBook::openDefault(path));
    const QString latest = scalar("select id from tbl_bill order by version desc limit 1").toString();
    const QString was = scalar("select version from tbl_bill where id='" + latest + "'").toString();
    QVERIFY(execAll({ "update tbl_bill set amount=amount+1 where id='" + latest + "'" }));
    QVERIFY(scalar("select version from tbl_bill where id='" + latest + "'").toString() >= was);
    TestBook::closeDefault();
}

QTEST_GUILESS_MAIN(TestBookGenerator)
#include "tst_bookgenerator.moc"
