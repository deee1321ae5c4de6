#include <QSqlQuery>
#include <QTest>
#include <memory>

#include "data/sqlitereader.h"
#include "testenv.h"

// The bill list is read through SQLite's own API instead of QSqlQuery: every value must come out as
// QSqlQuery would have given it, whatever type the book happens to store in the column.
class TestSqliteReader : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void valuesAsQSqlQueryGivesThem_data();
    void valuesAsQSqlQueryGivesThem();
    void readTextReplacesOnlyWhatChanged_data();
    void readTextReplacesOnlyWhatChanged();
    void repeatedTextsShareOneString();
    void refusesWhatQSqlQueryRefuses_data();
    void refusesWhatQSqlQueryRefuses();
    void noOpenBook();

private:
    std::unique_ptr<TestEnv> env;
    std::unique_ptr<TestBook> book;
};

void TestSqliteReader::init()
{
    env = std::make_unique<TestEnv>();
    book = std::make_unique<TestBook>(env->dataDir() + "book.db");
    QVERIFY(book->isOpen());
    // No declared type: every value keeps the storage class it was written with.
    QVERIFY(execAll({ "create table t (v)" }));
}

void TestSqliteReader::cleanup()
{
    book.reset();
    env.reset();
}

void TestSqliteReader::valuesAsQSqlQueryGivesThem_data()
{
    QTest::addColumn<QString>("literal");
    QTest::newRow("null") << "null";
    QTest::newRow("empty text") << "''";
    QTest::newRow("ascii text") << "'abc'";
    QTest::newRow("chinese text") << "'房租 第二行'";
    QTest::newRow("quote and newline") << "'O''Brien' || char(10) || 'x'";
    QTest::newRow("integer") << "42";
    QTest::newRow("negative integer") << "-7";
    QTest::newRow("integer beyond int") << "3000000000";
    QTest::newRow("real") << "-1234.56";
    QTest::newRow("whole real") << "2.0";
    QTest::newRow("large real") << "1e20";
    QTest::newRow("number as text") << "'12.5'";
    QTest::newRow("number with junk") << "'12abc'";
    QTest::newRow("blob") << "x'41e688bf42'";
    QTest::newRow("date") << "'2024-01-05'";
    QTest::newRow("date without zeros") << "'2024-1-5'";
    QTest::newRow("impossible date") << "'2024-02-30'";
    QTest::newRow("year zero") << "'0000-01-01'";
    QTest::newRow("date and time") << "'2024-01-05 10:00:00'";
    QTest::newRow("date with T") << "'2024-01-05T10:00:00'";
    QTest::newRow("date digits only") << "'20240105'";
    QTest::newRow("date as integer") << "20240105";
}

void TestSqliteReader::valuesAsQSqlQueryGivesThem()
{
    QFETCH(QString, literal);
    QVERIFY(execAll({ "insert into t values (" + literal + ")" }));

    QSqlQuery query;
    QVERIFY(query.exec("select v from t"));
    QVERIFY(query.next());
    const QVariant expected = query.value(0);
    query.finish();

    SqliteReader reader;
    QVERIFY(reader.prepare("select v from t"));
    QVERIFY(reader.next());
    QCOMPARE(reader.text(0), expected.toString());
    QCOMPARE(reader.text(0).isNull(), expected.toString().isNull());
    QCOMPARE(reader.sharedText(0), expected.toString());
    QCOMPARE(reader.sharedText(0).isNull(), expected.toString().isNull());
    QCOMPARE(reader.utf8Key(0), expected.toString().toUtf8());
    QCOMPARE(reader.toDouble(0), expected.toDouble());
    QCOMPARE(reader.toInt(0), expected.toInt());
    QCOMPARE(reader.toDate(0), expected.toDate());
    QString field;
    reader.readText(0, &field);
    QCOMPARE(field, expected.toString());
    QCOMPARE(field.isNull(), expected.toString().isNull());
    QVERIFY(!reader.next());
    QVERIFY(reader.error().isEmpty());
}

void TestSqliteReader::readTextReplacesOnlyWhatChanged_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<bool>("beforeIsNull");
    QTest::addColumn<QString>("literal");
    QTest::addColumn<QString>("after");
    QTest::addColumn<bool>("afterIsNull");
    QTest::newRow("same ascii") << "abc" << false << "'abc'"
                                << "abc" << false;
    QTest::newRow("one letter changed") << "abc" << false << "'abd'"
                                        << "abd" << false;
    QTest::newRow("same length in bytes, other text") << "ab" << false << "'午'"
                                                      << "午" << false;
    QTest::newRow("same chinese") << "早饭" << false << "'早饭'"
                                  << "早饭" << false;
    QTest::newRow("other chinese") << "早饭" << false << "'午饭'"
                                   << "午饭" << false;
    // "Ã©" has the characters of the bytes of "é" in UTF-8.
    QTest::newRow("characters equal to the bytes")
        << QString::fromLatin1("\xc3\xa9") << false << "'é'" << QString(QChar(0xe9)) << false;
    QTest::newRow("text to empty") << "abc" << false << "''"
                                   << "" << false;
    QTest::newRow("empty stays empty") << "" << false << "''"
                                       << "" << false;
    QTest::newRow("null to empty") << QString() << true << "''"
                                   << "" << false;
    QTest::newRow("empty to null") << "" << false << "null" << QString() << true;
    QTest::newRow("integer for its digits") << "42" << false << "42"
                                            << "42" << false;
}

void TestSqliteReader::readTextReplacesOnlyWhatChanged()
{
    QFETCH(QString, before);
    QFETCH(bool, beforeIsNull);
    QFETCH(QString, literal);
    QFETCH(QString, after);
    QFETCH(bool, afterIsNull);
    QVERIFY(execAll({ "insert into t values (" + literal + ")" }));

    QString field = beforeIsNull ? QString() : QString(before.constData(), before.size());
    QVERIFY(field.isNull() == beforeIsNull);
    SqliteReader reader;
    QVERIFY(reader.prepare("select v from t"));
    QVERIFY(reader.next());
    reader.readText(0, &field);
    QCOMPARE(field, after);
    QCOMPARE(field.isNull(), afterIsNull);
}

void TestSqliteReader::repeatedTextsShareOneString()
{
    QVERIFY(execAll({ "insert into t values ('01')", "insert into t values ('02')", "insert into t values ('01')" }));
    SqliteReader reader;
    QVERIFY(reader.prepare("select v from t"));
    QStringList values;
    while (reader.next())
        values << reader.sharedText(0);
    QCOMPARE(values, QStringList({ "01", "02", "01" }));
    QVERIFY(values.at(0).isSharedWith(values.at(2)));
    QVERIFY(!values.at(0).isSharedWith(values.at(1)));
}

void TestSqliteReader::refusesWhatQSqlQueryRefuses_data()
{
    QTest::addColumn<QString>("sql");
    QTest::newRow("unknown column") << "select nothing from t";
    QTest::newRow("second statement") << "select v from t; delete from t";
    QTest::newRow("empty") << "";
    QTest::newRow("comment only") << "-- nothing";
}

void TestSqliteReader::refusesWhatQSqlQueryRefuses()
{
    QFETCH(QString, sql);
    QVERIFY(execAll({ "insert into t values (1)" }));
    QVERIFY(!QSqlQuery().exec(sql));
    SqliteReader reader;
    QVERIFY(!reader.prepare(sql));
    QVERIFY(!reader.error().isEmpty());
    QVERIFY(!reader.next());
    QCOMPARE(scalar("select count(*) from t").toInt(), 1);
}

void TestSqliteReader::noOpenBook()
{
    book.reset();
    SqliteReader reader;
    QVERIFY(!reader.prepare("select 1"));
    QVERIFY(!reader.error().isEmpty());
    QVERIFY(!reader.next());
}

QTEST_GUILESS_MAIN(TestSqliteReader)
#include "tst_sqlitereader.moc"
