#include <QRegularExpression>
#include <QSqlQuery>
#include <QTest>

#include "data/dbsetting.h"
#include "testenv.h"

class TestDbSetting : public QObject
{
    Q_OBJECT

private slots:
    void passwordsRoundTrip_data();
    void passwordsRoundTrip();
    void emptyPasswordHasItsOwnStoredForm();
    void damagedStoredFormsReadAsNoPassword_data();
    void damagedStoredFormsReadAsNoPassword();
    void templateRowLoads();
    void saveWritesEveryRowButNotTheSyncTime();
    void saveReportsABookWithoutRow();
    void syncTimeForms_data();
    void syncTimeForms();
};

void TestDbSetting::passwordsRoundTrip_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<int>("storedLength");
    QTest::newRow("one letter") << "a" << 11;
    QTest::newRow("letters and digits") << "abc123" << 16;
    QTest::newRow("blanks and signs") << "P@ss w0rd!" << 20;
    QTest::newRow("chinese") << "密码" << 16; // six UTF-8 bytes
    QTest::newRow("mixed") << "ä€x 口令" << 23; // 2 + 3 + 1 + 1 + 3 + 3 bytes
}

void TestDbSetting::passwordsRoundTrip()
{
    QFETCH(QString, password);
    QFETCH(int, storedLength);
    const QString stored = scramblePassword(password);
    QCOMPARE(stored.size(), storedLength);
    QVERIFY(QRegularExpression("^[0-9a-f]{5}").match(stored).hasMatch());
    QVERIFY(QRegularExpression("[0-9a-f]{5}$").match(stored).hasMatch());
    QCOMPARE(unscramblePassword(stored), password);
}

void TestDbSetting::emptyPasswordHasItsOwnStoredForm()
{
    // The first and last five digits of the MD5 of nothing.
    QCOMPARE(scramblePassword(QString()), QString("d41d88427e"));
    QCOMPARE(scramblePassword(""), QString("d41d88427e"));
    QCOMPARE(unscramblePassword("d41d88427e"), QString());
    // An ASCII password is XOR-ed with 'Q' character by character.
    QCOMPARE(scramblePassword("a").mid(5, 1), QString(QChar('a' ^ 'Q')));
}

void TestDbSetting::damagedStoredFormsReadAsNoPassword_data()
{
    QTest::addColumn<QString>("stored");
    const QString good = scramblePassword("secret");
    QString changed = good;
    changed[7] = QChar(changed.at(7).unicode() ^ 1);
    QTest::newRow("nine characters") << "d41d8427e";
    QTest::newRow("ten wrong digits") << "d41d88427f";
    QTest::newRow("ten other digits") << "0123456789";
    QTest::newRow("middle changed") << changed;
    QTest::newRow("upper-case digits") << good.toUpper();
    QTest::newRow("null") << QString();
    QTest::newRow("replacement characters") << QString("abcde\uFFFD\uFFFDfghij");
}

void TestDbSetting::damagedStoredFormsReadAsNoPassword()
{
    QFETCH(QString, stored);
    QCOMPARE(unscramblePassword(stored), QString());
}

void TestDbSetting::templateRowLoads()
{
    TestEnv env;
    TestBook book(env.dataDir() + "t.db");
    QVERIFY(book.isOpen());
    DbSetting setting;
    QVERIFY(setting.hasRow());
    QVERIFY(setting.getPassword().isEmpty());
    QVERIFY(setting.getSyncPassword().isEmpty());
    QVERIFY(setting.getSyncUsername().isNull());
    QCOMPARE(setting.getVersion(), 12);
    QCOMPARE(setting.getSyncTime(), QDateTime(QDate(2008, 8, 8), QTime(8, 8, 8), Qt::UTC));
}

void TestDbSetting::saveWritesEveryRowButNotTheSyncTime()
{
    TestEnv env;
    TestBook book(env.dataDir() + "t.db");
    QVERIFY(execAll({ "update tbl_setting set salt='pepper'",
        "insert into tbl_setting (user_id, sync_time, version) values ('second', '2020-01-01 00:00:00', 5)" }));

    DbSetting setting;
    QCOMPARE(setting.getVersion(), 12); // the first row
    setting.setVersion(38);
    setting.setSyncUsername("张三");
    setting.setSyncPassword("密码pw");
    QVERIFY(setting.save());

    QSqlQuery query("select password, sync_password, version, sync_time, salt, sync_username from tbl_setting");
    int rows = 0;
    QStringList syncTimes;
    while (query.next()) {
        ++rows;
        QCOMPARE(query.value(0).toString(), QString("d41d88427e"));
        QCOMPARE(unscramblePassword(query.value(1).toString()), QString("密码pw"));
        QCOMPARE(query.value(2).toInt(), 38);
        syncTimes << query.value(3).toString();
        QCOMPARE(query.value(5).toString(), QString("张三"));
    }
    QCOMPARE(rows, 2);
    QCOMPARE(syncTimes, QStringList({ "2008-08-08 08:08:08.000", "2020-01-01 00:00:00" }));
    QCOMPARE(scalar("select count(*) from tbl_setting where salt='pepper'").toInt(), 1);

    DbSetting reloaded;
    QCOMPARE(reloaded.getSyncPassword(), QString("密码pw"));
    QVERIFY(reloaded.getPassword().isEmpty());
}

void TestDbSetting::saveReportsABookWithoutRow()
{
    TestEnv env;
    TestBook book(env.dataDir() + "t.db");
    QVERIFY(execAll({ "delete from tbl_setting" }));
    DbSetting setting;
    QVERIFY(!setting.hasRow());
    QCOMPARE(setting.getVersion(), 0);
    QVERIFY(!setting.getSyncTime().isValid());
    setting.setPassword("x");
    QVERIFY(!setting.save());
    QCOMPARE(scalar("select count(*) from tbl_setting").toInt(), 0);

    TestBook::closeDefault();
    DbSetting noBook;
    QVERIFY(!noBook.hasRow());
    QVERIFY(!noBook.save());
}

void TestDbSetting::syncTimeForms_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QDateTime>("expected");
    const QDateTime t(QDate(2013, 5, 7), QTime(21, 3, 4), Qt::UTC);
    QTest::newRow("plain") << "2013-05-07 21:03:04" << t;
    QTest::newRow("milliseconds") << "2013-05-07 21:03:04.000" << t;
    QTest::newRow("iso") << "2013-05-07T21:03:04" << t;
    QTest::newRow("date only") << "2013-05-07" << QDateTime();
    QTest::newRow("words") << "yesterday" << QDateTime();
    QTest::newRow("impossible day") << "2013-02-30 00:00:00" << QDateTime();
    QTest::newRow("null") << QString() << QDateTime();
}

void TestDbSetting::syncTimeForms()
{
    QFETCH(QString, stored);
    QFETCH(QDateTime, expected);
    TestEnv env;
    TestBook book(env.dataDir() + "t.db");
    QSqlQuery query;
    query.prepare("update tbl_setting set sync_time=?");
    query.addBindValue(stored);
    QVERIFY(query.exec());
    DbSetting setting;
    QCOMPARE(setting.getSyncTime(), expected);
    if (expected.isValid())
        QCOMPARE(timestampToText(setting.getSyncTime()), QString("2013-05-07 21:03:04"));
}

QTEST_GUILESS_MAIN(TestDbSetting)
#include "tst_dbsetting.moc"
