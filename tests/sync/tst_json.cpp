#include <QDateTime>
#include <QJsonArray>
#include <QTest>

#include "engine/json.h"

class TestJson : public QObject {
    Q_OBJECT

private slots:
    void serialize_data();
    void serialize();
    void parse_data();
    void parse();
    void parseMapTypes();
};

void TestJson::serialize_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("keys sorted, no spaces")
        << QVariant(QVariantMap { { "b", 1 }, { "a", "x" } }) << R"({"a":"x","b":1})";
    QTest::newRow("empty list") << QVariant(QVariantList()) << "[]";
    QTest::newRow("null text") << QVariant(QVariantList { QString() }) << R"([""])";
    QTest::newRow("date-time as stored") << QVariant(
        QVariantMap { { "t", QDateTime(QDate(2013, 1, 2), QTime(3, 4, 5)) } })
                                         << R"({"t":"2013-01-02 03:04:05"})";
    QTest::newRow("escapes as JSON.stringify")
        << QVariant(QVariantList { QString::fromUtf8("q\"b\\n\n\x01 /\u2028中文") })
        << QString::fromUtf8("[\"q\\\"b\\\\n\\n\\u0001 /\u2028中文\"]");
    QTest::newRow("bytes up to zero") << QVariant(QVariantList { QByteArray("ab\0cd", 5) }) << R"(["ab"])";
    QTest::newRow("numbers and bools") << QVariant(QVariantList { 1, 0.5, -3.0, true, qlonglong(7) })
                                       << "[1,0.5,-3,true,7]";
    QTest::newRow("invalid is null") << QVariant(QVariantList { QVariant() }) << "[null]";
    QTest::newRow("nested") << QVariant(QVariantList { QVariantMap { { "l", QVariantList { "a", 2 } } } })
                            << R"([{"l":["a",2]}])";
}

void TestJson::serialize()
{
    QFETCH(QVariant, value);
    QFETCH(QString, text);
    QCOMPARE(JSON::getInstance()->serialize(value), text);
}

void TestJson::parse_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("isArray");
    QTest::addColumn<int>("size");
    QTest::addColumn<QVariantMap>("map");
    QTest::newRow("empty array") << "[]" << true << 0 << QVariantMap();
    QTest::newRow("array of objects") << R"([{"a":1},{}])" << true << 2 << QVariantMap();
    QTest::newRow("error object") << R"({"error":3,"message":"x"})" << false << 0
                                  << QVariantMap { { "error", 3.0 }, { "message", "x" } };
    QTest::newRow("html") << "<html><body>message</body></html>" << false << 0 << QVariantMap();
    QTest::newRow("empty text") << "" << false << 0 << QVariantMap();
    QTest::newRow("two values") << "1,2" << false << 0 << QVariantMap();
    QTest::newRow("a lone number") << "1" << false << 0 << QVariantMap();
}

void TestJson::parse()
{
    QFETCH(QString, text);
    QFETCH(bool, isArray);
    QFETCH(int, size);
    QFETCH(QVariantMap, map);
    const QJsonValue value = JSON::getInstance()->parse(text);
    QCOMPARE(value.isArray(), isArray);
    QCOMPARE(value.toArray().size(), size);
    QCOMPARE(JSON::getInstance()->parseMap(text), map);
}

void TestJson::parseMapTypes()
{
    const QVariantMap map = JSON::getInstance()->parseMap(
        QString::fromUtf8(R"({"error":1,"nested":{"list":[true,null,"中"]},"none":null})"));
    QCOMPARE(map.value("error").typeId(), int(QMetaType::Double));
    QCOMPARE(map.value("error").toInt(), 1);
    const QVariantList list = map.value("nested").toMap().value("list").toList();
    QCOMPARE(list.size(), 3);
    QCOMPARE(list.at(0), QVariant(true));
    QVERIFY(!list.at(1).isValid());
    QCOMPARE(list.at(2).toString(), QString::fromUtf8("中"));
    QVERIFY(map.contains("none") && !map.value("none").isValid());
}

QTEST_GUILESS_MAIN(TestJson)
#include "tst_json.moc"
