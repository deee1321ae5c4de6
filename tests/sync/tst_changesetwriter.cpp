#include <QBuffer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>

#include "engine/synchelper.h"

// The upload's form: services parse the change set as the earlier serialisation (a QJsonArray per
// row, QJsonDocument's compact text, QByteArray::toPercentEncoding) wrote it, so the writer must
// give the very same bytes for every text a cell can hold.
namespace {

const HttpHelper::FormFields formFields = { { "username", QString::fromUtf8("用户 a&b=c") }, { "password", "p+%" } };

// The form as the earlier serialisation wrote it, with the change set given as JSON values.
QByteArray expectedForm(const QJsonArray& changeSet)
{
    return HttpHelper::encodeForm(formFields) + "&data="
        + QJsonDocument(changeSet).toJson(QJsonDocument::Compact).toPercentEncoding();
}

QJsonArray jsonArray(const QStringList& texts)
{
    QJsonArray array;
    for (const QString& text : texts)
        array.append(text);
    return array;
}

QString utf16(std::initializer_list<char16_t> units)
{
    QString text;
    for (const char16_t unit : units)
        text.append(QChar(unit));
    return text;
}

// A form written into memory, its first fields and the change set's field begun.
struct Form {
    explicit Form(QIODevice::OpenMode mode = QIODevice::WriteOnly)
    {
        opened = device.open(mode);
        writer.fields(formFields);
        writer.startField("data");
    }
    QByteArray bytes;
    QBuffer device { &bytes };
    SyncHelper::FormWriter writer { &device };
    bool opened = false;
};

} // namespace

class TestChangeSetWriter : public QObject {
    Q_OBJECT

private slots:
    void sameBytesAsDocument_data();
    void sameBytesAsDocument();
    void blocksJoinUp();
    void cellsReadFromBook_data();
    void cellsReadFromBook();
    void deviceThatRefuses();
};

void TestChangeSetWriter::sameBytesAsDocument_data()
{
    QTest::addColumn<QStringList>("cells");

    QString controls;
    for (char16_t c = 0; c < 0x20; ++c)
        controls.append(QChar(c));
    controls.append(QChar(0x7f));
    QString everyAscii;
    for (char16_t c = 0; c < 0x80; ++c)
        everyAscii.append(QChar(c));
    QString longText;
    for (int i = 0; i < 20000; ++i)
        longText += QString::fromUtf8("长文本 \"q\" \\ %1 😀\n").arg(i);

    QTest::newRow("plain") << QStringList { "3f2a-bc", "title", "12.5", "", "2024-01-01" };
    QTest::newRow("no cells") << QStringList {};
    QTest::newRow("one empty cell") << QStringList { "" };
    QTest::newRow("quotes and backslashes") << QStringList { "\"", "\\", "\\\"\\\\\"", "a\\u0041b", "/" };
    QTest::newRow("every control character") << QStringList { controls, "x\ny\rz\tw\bv\fu" };
    QTest::newRow("zero character") << QStringList { QString(QChar(0)), utf16({ 'a', 0, 'b' }) };
    QTest::newRow("every ASCII character") << QStringList { everyAscii };
    QTest::newRow("form punctuation") << QStringList { "a&b=c+d%20e f", "-._~!*'();:@$,/?#[]" };
    QTest::newRow("Chinese") << QStringList { QString::fromUtf8("午餐 工资 交通"), QString::fromUtf8("借入 ¥12.50") };
    QTest::newRow("two- and three-byte limits")
        << QStringList { utf16({ 0x80, 0x7ff, 0x800, 0xfffd, 0xfffe, 0xffff }) };
    QTest::newRow("line and paragraph separators") << QStringList { utf16({ 'a', 0x2028, 'b', 0x2029, 'c' }) };
    QTest::newRow("outside the basic plane") << QStringList { QString::fromUtf8("😀𠀀🀄"), QString::fromUcs4(U"\U0010ffff") };
    QTest::newRow("high surrogate alone at the end") << QStringList { utf16({ 'a', 0xd83d }) };
    QTest::newRow("high surrogate before a letter") << QStringList { utf16({ 0xd83d, 'a' }) };
    QTest::newRow("two high surrogates, then a pair") << QStringList { utf16({ 0xd83d, 0xd83d, 0xde00 }) };
    QTest::newRow("low surrogate alone") << QStringList { utf16({ 0xde00 }), utf16({ 'x', 0xdfff, 'y' }) };
    QTest::newRow("surrogates in the wrong order") << QStringList { utf16({ 0xde00, 0xd83d }) };
    QTest::newRow("numbers as cells give them")
        << QStringList { SyncHelper::cellText(0.1 + 0.2), SyncHelper::cellText(-3.0), SyncHelper::cellText(1e300),
               SyncHelper::cellText(-1.5e-7), SyncHelper::cellText(qlonglong(-9223372036854775807LL)),
               SyncHelper::cellText(QVariant()) };
    QTest::newRow("very long text") << QStringList { longText, "after" };
}

void TestChangeSetWriter::sameBytesAsDocument()
{
    QFETCH(QStringList, cells);
    // The cells as a row, and each one alone, as the change set writes table names and cells.
    Form form;
    QVERIFY(form.opened);
    SyncHelper::FormWriter& writer = form.writer;
    writer.json("[");
    writer.value(cells);
    QJsonArray expected { jsonArray(cells) };
    for (const QString& cell : std::as_const(cells)) {
        writer.json(",");
        writer.value(cell);
        expected.append(cell);
    }
    writer.json("]");
    QVERIFY(writer.finish());
    QCOMPARE(form.bytes, expectedForm(expected));
}

void TestChangeSetWriter::blocksJoinUp()
{
    // Enough rows to cross the writer's blocks many times, with characters of every length at the
    // seams (a percent-encoded character never splits across a block as the earlier text had it).
    Form form;
    QVERIFY(form.opened);
    SyncHelper::FormWriter& writer = form.writer;
    writer.json(R"([{"table_name":)");
    writer.value(QString("bill"));
    writer.json(R"(,"update_data":[)");
    QJsonArray rows;
    for (int i = 0; i < 30000; ++i) {
        const QStringList row { QString::number(i), QString::fromUtf8("午餐😀").repeated(i % 7), "\"\\\n",
            QString(i % 13, QChar('a')) };
        writer.json(i == 0 ? "" : ",");
        writer.value(row);
        rows.append(jsonArray(row));
    }
    writer.json("]}]");
    QVERIFY(writer.finish());
    QVERIFY(form.bytes.size() > 4 * 1024 * 1024);
    QCOMPARE(form.bytes,
        expectedForm(QJsonArray { QJsonObject { { "table_name", "bill" }, { "update_data", rows } } }));
}

void TestChangeSetWriter::cellsReadFromBook_data()
{
    QTest::addColumn<QString>("expression");
    QTest::addColumn<QVariant>("bound");

    QTest::newRow("text with a lone surrogate") << "?" << QVariant(utf16({ 'a', 0xd800, 'b' }));
    QTest::newRow("text of bytes that are no UTF-8") << "cast(x'61ff80fe62' as text)" << QVariant();
    QTest::newRow("text with a zero character") << "cast(x'610062' as text)" << QVariant();
    QTest::newRow("bytes") << "x'00015c22'" << QVariant();
    QTest::newRow("real") << "0.1+0.2" << QVariant();
    QTest::newRow("whole real") << "-3.0" << QVariant();
    QTest::newRow("large real") << "1e300" << QVariant();
    QTest::newRow("integer") << "-9223372036854775808" << QVariant();
    QTest::newRow("null") << "null" << QVariant();
    QTest::newRow("Chinese and beyond the basic plane") << "?" << QVariant(QString::fromUtf8("午餐😀"));
}

void TestChangeSetWriter::cellsReadFromBook()
{
    QFETCH(QString, expression);
    QFETCH(QVariant, bound);
    QString text;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "cells");
        db.setDatabaseName(":memory:");
        QVERIFY(db.open());
        QSqlQuery query(db);
        QVERIFY2(query.exec("create table t (c)"), qPrintable(query.lastError().text()));
        QVERIFY(query.prepare(QString("insert into t values (%1)").arg(expression)));
        if (bound.isValid())
            query.addBindValue(bound);
        QVERIFY2(query.exec(), qPrintable(query.lastError().text()));
        QVERIFY(query.exec("select c from t"));
        QVERIFY(query.next());
        text = SyncHelper::cellText(query.value(0));
    }
    QSqlDatabase::removeDatabase("cells");

    Form form;
    QVERIFY(form.opened);
    SyncHelper::FormWriter& writer = form.writer;
    writer.json("[");
    writer.value(QStringList { text, "x" });
    writer.json("]");
    QVERIFY(writer.finish());
    QCOMPARE(form.bytes, expectedForm(QJsonArray { QJsonArray { text, "x" } }));
}

void TestChangeSetWriter::deviceThatRefuses()
{
    // A form that did not reach its file is never sent as if it had.
    Form form(QIODevice::ReadOnly);
    QVERIFY(form.opened);
    SyncHelper::FormWriter& writer = form.writer;
    writer.json("[");
    writer.value(QStringList { "a" });
    writer.json("]");
    QTest::ignoreMessage(QtWarningMsg, "QIODevice::write (QBuffer): ReadOnly device");
    QVERIFY(!writer.finish());
}

QTEST_GUILESS_MAIN(TestChangeSetWriter)
#include "tst_changesetwriter.moc"
