// The cells the service stores are the JSON text of each row as the service escapes it: a record
// sent again unchanged is recognised by those bytes, and replies hand them on as they are. Any
// change to the escaping would make every stored record look changed.
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include "servicestore.h"

class TestServiceCells : public QObject {
    Q_OBJECT

private slots:
    void storedAsEscaped_data();
    void storedAsEscaped();
};

void TestServiceCells::storedAsEscaped_data()
{
    QTest::addColumn<QString>("text");

    QString everyAscii;
    for (char16_t c = 0; c < 0x80; ++c)
        everyAscii.append(QChar(c));
    QTest::newRow("plain") << "lunch";
    QTest::newRow("empty") << "";
    QTest::newRow("every ASCII character") << everyAscii;
    QTest::newRow("escapes at both ends") << "\"x\\";
    QTest::newRow("escapes side by side") << "\n\n\\\\\"\"\x01\x1f";
    QTest::newRow("Chinese and beyond the basic plane") << QString::fromUtf8("午餐 ¥12 😀 \u2028");
}

void TestServiceCells::storedAsEscaped()
{
    QFETCH(QString, text);
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    ServiceStore store;
    QString error;
    qint64 account = 0;
    QVERIFY2(store.open(folder.filePath("service.db"), &error), qPrintable(error));
    QVERIFY2(store.addUser("ann", "pw", &error), qPrintable(error));
    QVERIFY(!store.authenticate("ann", "pw", &account).isEmpty());

    const QString now = QDateTime::currentDateTimeUtc().toString("yyyy-MM-dd hh:mm:ss");
    const QJsonArray row { "m1", text, text + text, "1", "2020-01-01 00:00:00" };
    const QJsonObject member { { "table_name", "member" },
        { "update_columns", QJsonArray::fromStringList(ServiceStore::columnsOf("member")) },
        { "update_data", QJsonArray { row } } };
    QByteArray reply;
    ServiceStore::Failure failure;
    QVERIFY(store.synchronise(account, "2008-08-08 08:08:08", now,
        QJsonDocument(QJsonArray { member }).toJson(QJsonDocument::Compact), &reply, &failure));
    // A device that never ran gets every record, its cells as stored.
    QVERIFY(store.synchronise(account, "2008-08-08 08:08:08", now, "[]", &reply, &failure));
    const QByteArray cells = QJsonDocument(row).toJson(QJsonDocument::Compact);
    QVERIFY2(reply.contains("\"update_data\":[" + cells + "]"), reply.constData());
}

QTEST_GUILESS_MAIN(TestServiceCells)
#include "tst_servicecells.moc"
