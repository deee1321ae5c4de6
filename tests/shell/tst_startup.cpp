#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QTest>

#include "data/bookprobe.h"
#include "data/dbsetting.h"
#include "data/sqlhelper.h"
#include "shell/startup.h"
#include "testenv.h"
#include "widgettest.h"

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void commandWords_data();
    void commandWords();
    void chooseBook_data();
    void chooseBook();
    void probeRollsBackACrashedWritersJournal();
    void probeOfALockedBookFailsClosed();
};

namespace {
// A copy of the template whose first page alone survived: its settings cannot be read.
bool makeDamagedBook(const QString& path)
{
    QFile file(path);
    return WidgetTest::makeBook(path) && file.resize(4096);
}
}

void TestStartup::commandWords_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("word");
    QTest::addColumn<QString>("argument");
    QTest::newRow("none") << QStringList { "quorvane" } << "" << "";
    QTest::newRow("book") << QStringList { "quorvane", "book", "家庭.db" } << "book" << "家庭.db";
    QTest::newRow("word without argument") << QStringList { "quorvane", "book" } << "book" << "";
    QTest::newRow("more than two") << QStringList { "quorvane", "restore", "/a b/c.db", "x" } << "restore"
                                   << "/a b/c.db";
}

void TestStartup::commandWords()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, word);
    QFETCH(QString, argument);
    const Startup::Command command = Startup::parseCommand(arguments);
    QCOMPARE(command.word, word);
    QCOMPARE(command.argument, argument);
}

void TestStartup::chooseBook_data()
{
    // "name", "name:password", "name!" (not a database), "name#" (damaged), "name?" (gone)
    QTest::addColumn<QStringList>("books");
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<bool>("login");
    QTest::addColumn<QString>("loginBook");
    QTest::addColumn<QString>("current");
    QTest::addColumn<bool>("probeFailed");

    QTest::newRow("no book") << QStringList {} << "" << false << "" << "" << false;
    QTest::newRow("one book without password") << QStringList { "a.db" } << "" << false << "" << "a.db" << false;
    QTest::newRow("one book with password") << QStringList { "a.db:pw" } << "" << true << "" << "" << false;
    QTest::newRow("two books, none protected") << QStringList { "a.db", "b.db" } << "" << true << "" << "" << false;
    QTest::newRow("chosen book without password") << QStringList { "a.db", "b.db" } << "b.db" << false << "" << "b.db"
                                                  << false;
    QTest::newRow("chosen book with password") << QStringList { "a.db", "b.db:pw" } << "b.db" << true << "b.db" << ""
                                               << false;
    QTest::newRow("tampered password counts as none") << QStringList { "a.db:~" } << "" << false << "" << "a.db"
                                                      << false;
    QTest::newRow("not a database") << QStringList { "a.db!" } << "" << false << "" << "a.db" << false;
    QTest::newRow("book gone before the probe") << QStringList { "a.db?" } << "" << true << "" << "" << true;
    QTest::newRow("damaged book: its password is unknown") << QStringList { "a.db#" } << "" << true << ""
                                                           << "" << true;
    QTest::newRow("chosen book that cannot be probed") << QStringList { "a.db", "b.db#" } << "b.db" << true << "b.db"
                                                       << "" << true;
}

void TestStartup::chooseBook()
{
    QFETCH(QStringList, books);
    QFETCH(QString, chosen);
    QFETCH(bool, login);
    QFETCH(QString, loginBook);
    QFETCH(QString, current);
    QFETCH(bool, probeFailed);

    TestEnv env;
    QStringList files;
    for (const QString& entry : books) {
        const QString name = entry.section(QRegularExpression("[:!?#]"), 0, 0);
        const QString path = env.dataDir() + name;
        if (entry.endsWith('?')) {
            // listed, then removed before it could be probed
        } else if (entry.endsWith('!')) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("this is not a book");
        } else if (entry.endsWith('#')) {
            QVERIFY(makeDamagedBook(path));
        } else if (entry.endsWith(":~")) {
            QVERIFY(WidgetTest::makeBook(path, "0123456789abc"));
        } else {
            // A password is stored scrambled, as the settings page would.
            const QString password = entry.section(':', 1);
            QVERIFY(WidgetTest::makeBook(path, password.isEmpty() ? QVariant() : scramblePassword(password)));
        }
        files << name;
    }
    const QStringList before = QDir(env.dataDir()).entryList(QDir::Files);

    const Startup::Choice choice = Startup::chooseBook(env.dataDir(), files, chosen);
    QCOMPARE(choice.login, login);
    QCOMPARE(choice.loginBook, loginBook);
    QCOMPARE(choice.currentBook, current);
    QCOMPARE(choice.probeFailed, probeFailed);
    // Probing never leaves a file behind.
    QCOMPARE(QDir(env.dataDir()).entryList(QDir::Files), before);
}

void TestStartup::probeRollsBackACrashedWritersJournal()
{
    TestEnv env;
    const QString writer = env.dataDir() + "writer.db";
    QVERIFY(WidgetTest::makeBook(writer, scramblePassword("old")));

    // A writer changes the password and runs out of cache in the middle of its transaction, so
    // the book file itself holds the change; it is killed before the commit. What it leaves is a
    // copy of the two files taken at that moment.
    const QString book = env.dataDir() + "a.db";
    QVERIFY(withBookConnection(writer, "writer", BookAccess::ReadWrite, [&](QSqlDatabase& db) {
        QSqlQuery query(db);
        return query.exec("pragma cache_size=1") && query.exec("begin")
            && query.exec("update tbl_setting set password='" + scramblePassword("new") + "'")
            && query.exec("insert into tbl_bill (id, amount, description, date, month, kind) values ('x', 1, "
                          "zeroblob(400000), '2024-01-01', 202401, 'expense')")
            && QFile::copy(writer, book) && QFile::copy(writer + "-journal", book + "-journal");
    }));

    const BookProbe::Result probe = BookProbe::probe(book, "a.db");
    QVERIFY2(probe.opened, qPrintable(probe.errorText));
    QCOMPARE(probe.password, QStringLiteral("old"));
    QVERIFY(!QFile::exists(book + "-journal"));
}

void TestStartup::probeOfALockedBookFailsClosed()
{
    TestEnv env;
    const QString book = env.dataDir() + "a.db";
    QVERIFY(WidgetTest::makeBook(book, scramblePassword("pw")));
    // Another program holds the book while it writes, for longer than the probe waits.
    BookProbe::Result probe;
    QVERIFY(withBookConnection(book, "writer", BookAccess::ReadWrite, [&](QSqlDatabase& db) {
        QSqlQuery query(db);
        const bool locked = query.exec("begin exclusive");
        probe = BookProbe::probe(book, "a.db", 100);
        return locked && query.exec("rollback");
    }));
    QVERIFY(!probe.opened);
    QVERIFY(probe.password.isEmpty());
    QVERIFY2(probe.errorText.contains(QStringLiteral("其他程序")), qPrintable(probe.errorText));
    QCOMPARE(BookProbe::probe(book, "a.db", 100).password, QStringLiteral("pw"));
}

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
