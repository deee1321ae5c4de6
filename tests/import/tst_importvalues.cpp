// The values a statement holds: amounts, dates, encodings, CSV records and column headings.
#include <QStringEncoder>
#include <QTest>

#include "import/columnrole.h"
#include "import/csvreader.h"
#include "import/csvwriter.h"
#include "import/importpreset.h"
#include "import/textdecoder.h"
#include "import/valueparser.h"

class TestImportValues : public QObject {
    Q_OBJECT

private slots:
    void amounts_data();
    void amounts();
    void badAmounts_data();
    void badAmounts();
    void dates_data();
    void dates();
    void dateOrder_data();
    void dateOrder();
    void encodings_data();
    void encodings();
    void refusedBytes_data();
    void refusedBytes();
    void csvRecords();
    void delimiters_data();
    void delimiters();
    void csvWriterReadsBack();
    void headings_data();
    void headings();
    void columnList();
};

void TestImportValues::amounts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("amount");
    QTest::newRow("plain") << "12.5" << 12.5;
    QTest::newRow("minus") << "-35.00" << -35.0;
    QTest::newRow("plus") << "+8" << 8.0;
    QTest::newRow("trailing minus") << "100.00-" << -100.0;
    QTest::newRow("unicode minus") << QStringLiteral("−7.25") << -7.25;
    QTest::newRow("thousands") << "1,234.56" << 1234.56;
    QTest::newRow("lone comma before three digits groups thousands") << "1,280" << 1280.0;
    QTest::newRow("decimal comma") << "12,50" << 12.5;
    QTest::newRow("european thousands") << "-1.234,56" << -1234.56;
    QTest::newRow("swiss") << "1'234.50" << 1234.5;
    QTest::newRow("blanks") << " 2 000,00 " << 2000.0;
    QTest::newRow("yuan sign") << QStringLiteral("¥88") << 88.0;
    QTest::newRow("full-width yuan and digits") << QStringLiteral("￥８８．００") << 88.0;
    QTest::newRow("full-width minus") << QStringLiteral("－５") << -5.0;
    QTest::newRow("dollar before sign") << "$-3.10" << -3.1;
    QTest::newRow("sign before euro") << QStringLiteral("-€4") << -4.0;
    QTest::newRow("parentheses") << "(45.90)" << -45.9;
    QTest::newRow("parentheses with sign") << QStringLiteral("(¥1,000)") << -1000.0;
    QTest::newRow("yuan word") << QStringLiteral("35元") << 35.0;
    QTest::newRow("currency code") << "CNY 10.00" << 10.0;
    QTest::newRow("rounded to cents") << "0.005" << 0.01;
    QTest::newRow("zero is no negative zero") << "-0.00" << 0.0;
    // Half a cent goes away from zero, decided on the decimal digits, not on the nearest double.
    QTest::newRow("half cent up, 1.005") << "1.005" << 1.01;
    QTest::newRow("half cent up, 0.125") << "0.125" << 0.13;
    QTest::newRow("half cent away from zero") << "-2.675" << -2.68;
    QTest::newRow("below half a cent") << "1.0049999" << 1.0;
    QTest::newRow("half cent, grouped") << "1,234.565" << 1234.57;
    QTest::newRow("grouped in points") << "1.234.567" << 1234567.0;
    QTest::newRow("grouped in blanks with decimal comma") << "1 234 567,89" << 1234567.89;
    QTest::newRow("at the cap") << "10000000000000" << 1e13;
    QTest::newRow("at the cap, grouped") << "10,000,000,000,000.00" << 1e13;
}

void TestImportValues::amounts()
{
    QFETCH(QString, text);
    QFETCH(double, amount);
    double value = 99999;
    QString reason;
    QVERIFY2(ValueParser::parseAmount(text, &value, &reason), qPrintable(reason));
    QCOMPARE(value, amount);
    QVERIFY(!std::signbit(value) || value != 0);
}

void TestImportValues::badAmounts_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("letters") << "abc";
    QTest::newRow("empty") << "";
    QTest::newRow("digits and letters") << "12abc";
    QTest::newRow("two decimal marks") << "1.2.3,4,5";
    QTest::newRow("only a sign") << "-";
    QTest::newRow("a date") << "2023-01-05";
    QTest::newRow("too large") << "99999999999999999999";
    // One cap, however the digits are written.
    QTest::newRow("over the cap, plain") << "99999999999999";
    QTest::newRow("over the cap, grouped") << "99,999,999,999,999";
    QTest::newRow("over the cap by a cent") << "10000000000000.01";
    QTest::newRow("over the cap, negative") << "-10000000000001";
    // A repeated mark groups thousands only in groups of three.
    QTest::newRow("repeated point, short groups") << "1.2.3";
    QTest::newRow("repeated comma, short groups") << "1,2,3";
    QTest::newRow("long first group") << "1234,567,890";
    QTest::newRow("short group after the first") << "1,234,56.00";
    QTest::newRow("blank in the decimals") << "12.3 4";
    QTest::newRow("two signs") << "--5";
}

void TestImportValues::badAmounts()
{
    QFETCH(QString, text);
    double value = 0;
    QString reason;
    QVERIFY(!ValueParser::parseAmount(text, &value, &reason));
    QVERIFY(!reason.isEmpty());
}

void TestImportValues::dates_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("order");
    QTest::addColumn<QDate>("date"); // invalid: refused
    const int unknown = int(ValueParser::DateOrder::Unknown);
    const int monthDay = int(ValueParser::DateOrder::MonthDay);
    const int dayMonth = int(ValueParser::DateOrder::DayMonth);
    QTest::newRow("iso") << "2023-03-05" << unknown << QDate(2023, 3, 5);
    QTest::newRow("iso with time") << "2023-03-05 08:15:22" << unknown << QDate(2023, 3, 5);
    QTest::newRow("iso T time") << "2023-03-05T08:15" << unknown << QDate(2023, 3, 5);
    QTest::newRow("slashes year first") << "2023/4/1" << unknown << QDate(2023, 4, 1);
    QTest::newRow("chinese") << QStringLiteral("2023年4月1日") << unknown << QDate(2023, 4, 1);
    QTest::newRow("chinese with time") << QStringLiteral("2023年12月31日 23:59") << unknown << QDate(2023, 12, 31);
    QTest::newRow("dotted day first") << "05.03.2023" << unknown << QDate(2023, 3, 5);
    QTest::newRow("month first") << "3/5/2023" << monthDay << QDate(2023, 3, 5);
    QTest::newRow("day first") << "3/5/2023" << dayMonth << QDate(2023, 5, 3);
    QTest::newRow("only one order is a day") << "13/5/2023" << unknown << QDate(2023, 5, 13);
    QTest::newRow("same day and month") << "4/4/2023" << unknown << QDate(2023, 4, 4);
    QTest::newRow("qif apostrophe year") << "1/13'23" << unknown << QDate(2023, 1, 13);
    QTest::newRow("qif blanks") << " 2/ 3'23" << monthDay << QDate(2023, 2, 3);
    QTest::newRow("two-digit year") << "12/31/99" << monthDay << QDate(1999, 12, 31);
    QTest::newRow("ambiguous without order") << "3/5/2023" << unknown << QDate();
    QTest::newRow("no such day") << "2023-02-30" << unknown << QDate();
    QTest::newRow("no such day in the order given") << "30/2/2023" << monthDay << QDate();
    QTest::newRow("text") << "yesterday" << unknown << QDate();
    QTest::newRow("empty") << "" << unknown << QDate();
    QTest::newRow("trailing words") << "2023-03-05 paid" << unknown << QDate();
    QTest::newRow("mixed separators") << "2023-03/05" << unknown << QDate();
}

void TestImportValues::dates()
{
    QFETCH(QString, text);
    QFETCH(int, order);
    QFETCH(QDate, date);
    QDate read;
    QString reason;
    const bool ok = ValueParser::parseDate(text, ValueParser::DateOrder(order), &read, &reason);
    QCOMPARE(ok, date.isValid());
    if (ok)
        QCOMPARE(read, date);
    else
        QVERIFY(!reason.isEmpty());
}

void TestImportValues::dateOrder_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("positional");
    QTest::addColumn<bool>("monthDay");
    QTest::addColumn<bool>("dayMonth");
    QTest::addColumn<bool>("ambiguous");
    QTest::newRow("iso tells nothing") << "2023-01-13" << false << false << false << false;
    QTest::newRow("month first only") << "1/13/2023" << true << true << false << false;
    QTest::newRow("day first only") << "13/1/2023" << true << false << true << false;
    QTest::newRow("either") << "1/2/2023" << true << true << true << true;
    QTest::newRow("equal parts") << "2/2/2023" << true << true << true << false;
}

void TestImportValues::dateOrder()
{
    QFETCH(QString, text);
    const ValueParser::DateShape shape = ValueParser::dateShape(text);
    QVERIFY(shape.readable);
    QTEST(shape.positional, "positional");
    QTEST(shape.monthDayPossible, "monthDay");
    QTEST(shape.dayMonthPossible, "dayMonth");
    QTEST(shape.ambiguous, "ambiguous");
}

void TestImportValues::encodings_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("encoding");
    const QString text = QStringLiteral("日期,金额,说明\n2023-01-05,-35.50,兰州拉面 午饭\n2023-01-06,12500,三月工资\n");
    QTest::newRow("utf-8") << text.toUtf8() << "UTF-8";
    QTest::newRow("utf-8 with bom") << QByteArray("\xEF\xBB\xBF") + text.toUtf8() << "UTF-8";
    QStringEncoder gb("GB18030");
    QTest::newRow("gb18030") << QByteArray(gb.encode(text)) << "GB18030";
    QStringEncoder le(QStringEncoder::Utf16LE);
    QTest::newRow("utf-16le with bom") << QByteArray("\xFF\xFE") + QByteArray(le.encode(text)) << "UTF-16LE";
    QStringEncoder be(QStringEncoder::Utf16BE);
    QTest::newRow("utf-16be with bom") << QByteArray("\xFE\xFF") + QByteArray(be.encode(text)) << "UTF-16BE";
}

void TestImportValues::encodings()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, encoding);
    const TextDecoder::Result result = TextDecoder::decode(bytes);
    QVERIFY2(result.ok, qPrintable(result.error));
    QCOMPARE(result.encoding, encoding);
    QVERIFY(result.text.startsWith(QStringLiteral("日期,金额"))); // the mark is gone
    QVERIFY(result.text.contains(QStringLiteral("兰州拉面 午饭")));
}

void TestImportValues::refusedBytes_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("encoding");
    QTest::newRow("empty") << QByteArray() << QString();
    QByteArray binary;
    for (int i = 0; i < 4096; ++i)
        binary += char((i * 7919) % 256);
    QTest::newRow("binary") << binary << QString();
    // Bytes that are UTF-8 and GB18030 of nothing: lone high bytes between ASCII.
    QTest::newRow("undetectable") << QByteArray("date,amount\n2023-01-05,\xFF\xFF\xFF\n") << QString();
    QStringEncoder gb("GB18030");
    QTest::newRow("gb18030 read as utf-8")
        << QByteArray(gb.encode(QStringLiteral("日期,金额\n2023-01-05,午饭\n"))) << "UTF-8";
}

void TestImportValues::refusedBytes()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, encoding);
    const TextDecoder::Result result = TextDecoder::decode(bytes, encoding);
    QVERIFY(!result.ok);
    QVERIFY(!result.error.isEmpty());
    QVERIFY(result.text.isEmpty());
}

void TestImportValues::csvRecords()
{
    const QString text
        = QStringLiteral("date,amount,title,description\r\n"
                         "2023-06-01,-12.00,\"Caf\u00e9 \"\"Blue\"\"\",\"two lines:\r\nfirst, then second\"\r\n"
                         "\r\n"
                         "  2023-06-02 ,-3.50,\"a, b and c\",\r\n"
                         "2023-06-03,20.00,plain,\"ends with \"\"quote\"\"\"");
    const QList<CsvRecord> records = CsvReader::read(text, ',');
    QCOMPARE(records.size(), 4);
    QCOMPARE(records.at(1).line, 2);
    QCOMPARE(records.at(1).fields,
        QStringList(
            { "2023-06-01", "-12.00", QStringLiteral("Caf\u00e9 \"Blue\""), "two lines:\r\nfirst, then second" }));
    // The record after a quoted line break starts on the line after it, past the empty line.
    QCOMPARE(records.at(2).line, 5);
    QCOMPARE(records.at(2).fields, QStringList({ "2023-06-02", "-3.50", "a, b and c", "" }));
    QCOMPARE(records.at(3).fields.last(), QStringLiteral("ends with \"quote\""));
    // An empty last field is a field: the record keeps its width.
    QCOMPARE(CsvReader::read(QStringLiteral("a,b,\nc,,\n"), ',').at(1).fields, QStringList({ "c", "", "" }));
}

void TestImportValues::delimiters_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<char>("delimiter");
    QTest::newRow("comma") << "a,b,c\n1,2,3\n4,5,6\n" << ',';
    QTest::newRow("semicolon with decimal commas") << "a;b;c\n1,5;2,5;3\n4;5,5;6\n" << ';';
    QTest::newRow("tab with commas in text") << "a\tb\tc\n1\tx, y\t3\n4\t5\t6\n" << '\t';
    QTest::newRow("comma inside quotes does not count") << "\"a;b\",c\n\"1;2\",3\n" << ',';
    QTest::newRow("one column") << "abc\ndef\n" << ',';
}

void TestImportValues::delimiters()
{
    QFETCH(QString, text);
    QTEST(CsvReader::detectDelimiter(text), "delimiter");
}

void TestImportValues::csvWriterReadsBack()
{
    const QStringList fields { QStringLiteral("O'Brien \"the\" <b>"), QStringLiteral("a,b;c\td"),
        QStringLiteral("line\r\nbreak"), QString(), QStringLiteral("中文") };
    const QByteArray line = CsvWriter::record(fields);
    QVERIFY(line.endsWith("\r\n"));
    const QList<CsvRecord> records = CsvReader::read(QString::fromUtf8(line), ',');
    QCOMPARE(records.size(), 1);
    QCOMPARE(records.first().fields, fields);
}

void TestImportValues::headings_data()
{
    using R = ColumnRole;
    QTest::addColumn<QStringList>("header");
    QTest::addColumn<QString>("preset");
    QTest::addColumn<QString>("roles");
    QTest::newRow("own export") << QStringList { "日期", "类型", "金额", "账户", "转入账户", "大类别", "小类别", "成员",
        "标题", "说明", "借款人" }
                                << "quorvane"
                                << "date,inout,amount,account,to-account,category,subcategory,member,title,"
                                   "description,borrower";
    QTest::newRow("payment platform") << QStringList { "交易时间", "交易类型", "交易对方", "商品", "收/支", "金额(元)",
        "支付方式", "备注" } << "bank"
                                      << "date,-,title,description,inout,amount,account,-";
    QTest::newRow("full-width heading") << QStringList { "交易日期", "金额（元）", "摘要" } << "bank"
                                        << "date,amount,title";
    QTest::newRow("separate columns") << QStringList { "Date", "Account", "Payee", "Category", "SubCategory",
        "Withdrawal", "Deposit", "Notes" }
                                      << "mmex"
                                      << "date,account,title,category,subcategory,expense,income,description";
    QTest::newRow("role words") << QStringList { "inout", "to-account", "borrower", "whatever" } << ""
                                << "inout,to-account,borrower,-";
    QTest::newRow("role words before the presets' headings")
        << QStringList { "date", "amount", "title", "description" } << ""
        << "date,amount,title,description";
    QTest::newRow("nothing known") << QStringList { "x", "y" } << ""
                                   << "";
    Q_UNUSED(R::Skip);
}

void TestImportValues::headings()
{
    QFETCH(QStringList, header);
    QString preset;
    const QList<ColumnRole::Role> roles = ImportPreset::guess(header, &preset);
    QTEST(preset, "preset");
    QTEST(ColumnRole::toList(roles), "roles");
}

void TestImportValues::columnList()
{
    QList<ColumnRole::Role> roles;
    QString error;
    QVERIFY(ColumnRole::parseList(QStringLiteral("date, -, amount,-,TITLE"), &roles, &error));
    QCOMPARE(ColumnRole::toList(roles), QStringLiteral("date,-,amount,-,title"));
    QVERIFY(!ColumnRole::parseList(QStringLiteral("date,amount,sum"), &roles, &error));
    QCOMPARE(error, QStringLiteral("sum"));
    QVERIFY(!ColumnRole::parseList(QStringLiteral("date,amount,date"), &roles, &error));
    QCOMPARE(error, QStringLiteral("date"));
}

QTEST_GUILESS_MAIN(TestImportValues)
#include "tst_importvalues.moc"
