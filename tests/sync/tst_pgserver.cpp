#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>
#include <QUrl>
#include <QUrlQuery>

#include <csignal>
#include <unistd.h>

#include "pgserver.h"

namespace {

// The postmaster's process id while the server of folder runs, else 0.
qint64 postmasterOf(const QString& folder)
{
    QFile lock(folder + QStringLiteral("/data/postmaster.pid"));
    if (!lock.open(QIODevice::ReadOnly))
        return 0;
    return lock.readLine().trimmed().toLongLong();
}

// A process that ended but was not yet reaped counts as gone.
bool alive(qint64 pid)
{
    if (pid <= 0 || ::kill(pid_t(pid), 0) != 0)
        return false;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray text = stat.readAll();
    const qsizetype end = text.lastIndexOf(')');
    return end < 0 || text.mid(end + 2, 1) != "Z";
}

// Opens a QPSQL connection from a postgresql:// URL the way a client of the URL would read it.
QSqlDatabase connectTo(const QString& url, const QString& name)
{
    const QUrl parsed(url);
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
    const QString socketFolder = QUrlQuery(parsed).queryItemValue(QStringLiteral("host"), QUrl::FullyDecoded);
    db.setHostName(socketFolder.isEmpty() ? parsed.host() : socketFolder);
    if (parsed.port() > 0)
        db.setPort(parsed.port());
    db.setUserName(parsed.userName(QUrl::FullyDecoded));
    db.setPassword(parsed.password(QUrl::FullyDecoded));
    db.setDatabaseName(parsed.path().mid(1));
    db.open();
    return db;
}

QString firstValue(const QSqlDatabase& db, const QString& sql)
{
    QSqlQuery query(db);
    if (!query.exec(sql) || !query.next())
        return QStringLiteral("error: ") + query.lastError().text();
    return query.value(0).toString();
}

// In a child copy of this test: starts a server, prints its folder and its watchdog's process id,
// and waits to be killed.
int runChild()
{
    PgServer server;
    if (!server.start()) {
        fprintf(stderr, "%s\n", qPrintable(server.errorText()));
        return 1;
    }
    printf("%s\n%lld\n", qPrintable(server.folder()), server.watchdogProcessId());
    fflush(stdout);
    ::pause();
    return 0;
}

} // namespace

class TestPgServer : public QObject {
    Q_OBJECT

private slots:
    void startGivesDatabase_data();
    void startGivesDatabase();
    void furtherDatabases();
    void stopAndStartAgain_data();
    void stopAndStartAgain();
    void destructorRemovesEverything();
    void deadOwnerIsCleanedUp_data();
    void deadOwnerIsCleanedUp();
};

void TestPgServer::startGivesDatabase_data()
{
    QTest::addColumn<bool>("socket");
    QTest::newRow("TCP with the password") << false;
    QTest::newRow("Unix socket") << true;
}

void TestPgServer::startGivesDatabase()
{
    QFETCH(bool, socket);
    PgServer server;
    QVERIFY2(server.start(), qPrintable(server.errorText()));
    QVERIFY(server.isRunning());
    QVERIFY(server.port() > 0);
    QVERIFY(server.url().startsWith(QStringLiteral("postgresql://")));
    {
        QSqlDatabase db = connectTo(socket ? server.socketUrl() : server.url(), QStringLiteral("url"));
        QVERIFY2(db.isOpen(), qPrintable(db.lastError().text()));
        QSqlQuery query(db);
        QVERIFY(query.exec(QStringLiteral("create table note (id integer primary key, text text not null)")));
        QVERIFY(query.prepare(QStringLiteral("insert into note values (1, ?)")));
        query.addBindValue(QStringLiteral("早餐 ☕ 'quoted'"));
        QVERIFY2(query.exec(), qPrintable(query.lastError().text()));
        // Bytes compared as SQLite compares them.
        QCOMPARE(firstValue(db, QStringLiteral("select 'B' < 'a'")), QStringLiteral("true"));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("url"));

    QString output;
    QVERIFY2(server.runSql(QStringLiteral("select text from note;"), &output), qPrintable(server.errorText()));
    QCOMPARE(output.trimmed(), QStringLiteral("早餐 ☕ 'quoted'"));
    QVERIFY(!server.runSql(QStringLiteral("select nothing from nowhere;")));
    QVERIFY(server.errorText().contains(QStringLiteral("nowhere")));
}

void TestPgServer::furtherDatabases()
{
    PgServer server;
    QVERIFY2(server.start(), qPrintable(server.errorText()));
    QVERIFY2(server.createDatabase(QStringLiteral("service_1")), qPrintable(server.errorText()));
    QVERIFY(!server.createDatabase(QStringLiteral("service_1")));
    QVERIFY(server.url(QStringLiteral("service_1")).endsWith(QStringLiteral("/service_1")));
    {
        QSqlDatabase one = connectTo(server.url(QStringLiteral("service_1")), QStringLiteral("one"));
        QVERIFY2(one.isOpen(), qPrintable(one.lastError().text()));
        QSqlQuery query(one);
        QVERIFY(query.exec(QStringLiteral("create table only_here (id integer)")));
        // A database of its own: the server's first one does not see the table.
        QVERIFY(!server.runSql(QStringLiteral("select * from only_here;")));

        // Dropped while a session is still connected to it.
        QVERIFY2(server.dropDatabase(QStringLiteral("service_1")), qPrintable(server.errorText()));
        QVERIFY(!query.exec(QStringLiteral("select * from only_here")));
        QVERIFY(!connectTo(server.url(QStringLiteral("service_1")), QStringLiteral("gone")).isOpen());
    }
    QSqlDatabase::removeDatabase(QStringLiteral("one"));
    QSqlDatabase::removeDatabase(QStringLiteral("gone"));
}

void TestPgServer::stopAndStartAgain_data()
{
    QTest::addColumn<bool>("immediate");
    QTest::newRow("fast") << false;
    QTest::newRow("immediate, as a crash") << true;
}

void TestPgServer::stopAndStartAgain()
{
    QFETCH(bool, immediate);
    PgServer server;
    QVERIFY2(server.start(), qPrintable(server.errorText()));
    const QString url = server.url();
    QVERIFY(server.runSql(QStringLiteral("create table kept (id integer); insert into kept values (7);")));
    {
        QSqlDatabase db = server.addConnection(QStringLiteral("held"));
        QVERIFY2(db.open(), qPrintable(db.lastError().text()));

        QVERIFY2(server.stop(immediate), qPrintable(server.errorText()));
        QVERIFY(!server.isRunning());
        QSqlQuery query(db);
        QVERIFY(!query.exec(QStringLiteral("select id from kept")));
        QSqlDatabase fresh = connectTo(url, QStringLiteral("refused"));
        QVERIFY(!fresh.isOpen());

        QVERIFY2(server.start(), qPrintable(server.errorText()));
        QVERIFY(server.isRunning());
        // The same address: a service pointed at it finds its database again.
        QCOMPARE(server.url(), url);
        db.close();
        QVERIFY2(db.open(), qPrintable(db.lastError().text()));
        QCOMPARE(firstValue(db, QStringLiteral("select id from kept")), QStringLiteral("7"));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("held"));
    QSqlDatabase::removeDatabase(QStringLiteral("refused"));
}

void TestPgServer::destructorRemovesEverything()
{
    QString folder;
    qint64 postmaster = 0;
    qint64 watchdog = 0;
    {
        PgServer server;
        QVERIFY2(server.start(), qPrintable(server.errorText()));
        folder = server.folder();
        postmaster = postmasterOf(folder);
        watchdog = server.watchdogProcessId();
        QVERIFY(alive(postmaster));
        QVERIFY(alive(watchdog));
    }
    QVERIFY(!QFile::exists(folder));
    QVERIFY(!alive(postmaster));
    QTRY_VERIFY_WITH_TIMEOUT(!alive(watchdog), 10000);
}

void TestPgServer::deadOwnerIsCleanedUp_data()
{
    QTest::addColumn<bool>("killWatchdog");
    QTest::newRow("by the watchdog") << false;
    QTest::newRow("by the next server, the watchdog killed too") << true;
}

void TestPgServer::deadOwnerIsCleanedUp()
{
    QFETCH(bool, killWatchdog);
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QUORVANE_PGSERVER_CHILD"), QStringLiteral("1"));
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), {});
    QVERIFY(child.waitForStarted());
    QVERIFY(QTest::qWaitFor(
        [&] { return child.peek(4096).count('\n') >= 2 || child.state() == QProcess::NotRunning; }, 120000));
    QVERIFY2(child.state() == QProcess::Running, qPrintable(QString::fromUtf8(child.readAllStandardError())));
    const QString folder = QString::fromUtf8(child.readLine()).trimmed();
    const qint64 watchdog = child.readLine().trimmed().toLongLong();
    const qint64 postmaster = postmasterOf(folder);
    QVERIFY(alive(postmaster));
    QVERIFY(alive(watchdog));

    if (killWatchdog) {
        ::kill(pid_t(watchdog), SIGKILL);
        QTRY_VERIFY_WITH_TIMEOUT(!alive(watchdog), 10000);
    }
    child.kill();
    QVERIFY(child.waitForFinished());

    if (killWatchdog) {
        // Nothing stops it now but the next server's start.
        QVERIFY(alive(postmaster));
        PgServer next;
        QVERIFY2(next.start(), qPrintable(next.errorText()));
    }
    QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(folder), 20000);
    QTRY_VERIFY_WITH_TIMEOUT(!alive(postmaster), 20000);
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (qEnvironmentVariableIsSet("QUORVANE_PGSERVER_CHILD"))
        return runChild();
    TestPgServer test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_pgserver.moc"
