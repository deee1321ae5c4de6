#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>

#include "data/constants.h"
#include "data/sqlhelper.h"
#include "datamgmt/backuphelper.h"
#include "testenv.h"

namespace {

QString book()
{
    return Constants::getInstance()->getDbDir() + Constants::getInstance()->getBookName();
}

QStringList backups()
{
    return QDir(Constants::getInstance()->getBackupDir()).entryList(QDir::Files, QDir::Name);
}

// Runs one statement on its own connection to path.
bool execIn(const QString& path, const QString& sql)
{
    return withBookConnection(
        path, "exec", BookAccess::ReadWrite, [&](QSqlDatabase& db) { return QSqlQuery(db).exec(sql); });
}

bool mark(const QString& path, const QString& name)
{
    return execIn(path, QString("insert into tbl_member (id, name) values ('mark', '%1')").arg(name));
}

} // namespace

class TestBackupHelper : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void backupNames_data();
    void backupNames();
    void backupNeverReplacesAFile();
    void backupOfAMissingBookFails();
    void restoreReplacesTheBook();
    void restoreRefusesWhatIsNotABook_data();
    void restoreRefusesWhatIsNotABook();
    void importIsNotAvailable();

private:
    TestEnv* env = nullptr;
};

void TestBackupHelper::init()
{
    env = new TestEnv;
}

void TestBackupHelper::cleanup()
{
    delete env;
}

void TestBackupHelper::backupNames_data()
{
    QTest::addColumn<QString>("bookName");
    QTest::addColumn<QString>("base");
    QTest::newRow("plain") << "home.db"
                           << "home";
    QTest::newRow("several dots") << "my.book.db"
                                  << "my";
    QTest::newRow("chinese") << "家庭.db"
                             << "家庭";
}

void TestBackupHelper::backupNames()
{
    QFETCH(QString, bookName);
    QFETCH(QString, base);
    QVERIFY(Constants::getInstance()->setBookName(bookName));
    QVERIFY(TestBook::copyTemplate(book()));
    const QString name = BackupHelper::generateBackupFileName();
    QVERIFY2(QRegularExpression("^" + QRegularExpression::escape(base) + "\\d{17}\\.db$").match(name).hasMatch(),
        qPrintable(name));
    QVERIFY(BackupHelper::backup(QString()));
    QVERIFY(BackupHelper::backup("named.db"));
    QCOMPARE(backups().size(), 2);
    QVERIFY(backups().contains("named.db"));
    QCOMPARE(
        valueIn(Constants::getInstance()->getBackupDir() + "named.db", "select version from tbl_setting").toInt(), 12);
}

void TestBackupHelper::backupNeverReplacesAFile()
{
    QVERIFY(TestBook::copyTemplate(book()));
    QFile taken(Constants::getInstance()->getBackupDir() + "taken.db");
    QVERIFY(taken.open(QIODevice::WriteOnly));
    taken.write("keep me");
    taken.close();
    QVERIFY(!BackupHelper::backup("taken.db"));
    QVERIFY(taken.open(QIODevice::ReadOnly));
    QCOMPARE(taken.readAll(), QByteArray("keep me"));
}

void TestBackupHelper::backupOfAMissingBookFails()
{
    QVERIFY(!BackupHelper::backup(QString()));
    QVERIFY(backups().isEmpty());
}

void TestBackupHelper::restoreReplacesTheBook()
{
    QVERIFY(TestBook::copyTemplate(book()));
    QVERIFY(mark(book(), "current"));
    const QString source = env->root() + "/elsewhere/chosen.db";
    QVERIFY(TestBook::copyTemplate(source));
    QVERIFY(mark(source, "chosen"));
    QVERIFY(execIn(source, "update tbl_setting set sync_time='2020-01-01 00:00:00'"));

    QVERIFY(BackupHelper::restore(source));
    QCOMPARE(valueIn(book(), "select name from tbl_member where id='mark'").toString(), QString("chosen"));
    QCOMPARE(valueIn(book(), "select sync_time from tbl_setting").toString(), QString("2008-08-08 08:08:08"));
    // The source stays as it was; the old book survives as the safety backup.
    QCOMPARE(valueIn(source, "select sync_time from tbl_setting").toString(), QString("2020-01-01 00:00:00"));
    QCOMPARE(backups().size(), 1);
    QCOMPARE(valueIn(Constants::getInstance()->getBackupDir() + backups().first(),
                 "select name from tbl_member where id='mark'")
                 .toString(),
        QString("current"));
    QVERIFY(!(QFileInfo(book()).permissions() & QFileDevice::WriteOther));
    QVERIFY(!QFileInfo::exists(book() + ".restoring"));
}

void TestBackupHelper::restoreRefusesWhatIsNotABook_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("text file") << "text";
    QTest::newRow("database without the book's tables") << "database";
    QTest::newRow("missing file") << "missing";
    QTest::newRow("the book itself") << "itself";
    QTest::newRow("no current book") << "nobook";
}

void TestBackupHelper::restoreRefusesWhatIsNotABook()
{
    QFETCH(QString, kind);
    if (kind != "nobook") {
        QVERIFY(TestBook::copyTemplate(book()));
        QVERIFY(mark(book(), "current"));
    }
    QString source = env->root() + "/source.db";
    if (kind == "text") {
        QFile file(source);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("not a book at all");
    } else if (kind == "database") {
        QVERIFY(execIn(source, "create table t (x)"));
    } else if (kind == "itself") {
        source = book();
    } else if (kind == "nobook") {
        QVERIFY(TestBook::copyTemplate(source));
    }
    const QStringList filesBefore = QDir(env->root()).entryList(QDir::Files);
    QVERIFY(!BackupHelper::restore(source));
    if (kind != "nobook")
        QCOMPARE(valueIn(book(), "select name from tbl_member where id='mark'").toString(), QString("current"));
    else
        QVERIFY(!QFileInfo::exists(book()));
    QCOMPARE(QDir(env->root()).entryList(QDir::Files), filesBefore);
}

void TestBackupHelper::importIsNotAvailable()
{
    QVERIFY(TestBook::copyTemplate(book()));
    const QString source = env->root() + "/kobel.db";
    QVERIFY(TestBook::copyTemplate(source));
    QVERIFY(!BackupHelper::kobel(source));
    QVERIFY(backups().isEmpty());
}

QTEST_MAIN(TestBackupHelper)
#include "tst_backuphelper.moc"
