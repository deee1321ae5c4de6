#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTest>

#include "data/dbsetting.h"
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
};

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
    QTest::addColumn<QStringList>("books"); // "name" or "name:password" or "name!" (not a database)
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
        const QString name = entry.section(QRegularExpression("[:!?]"), 0, 0);
        const QString path = env.dataDir() + name;
        if (entry.endsWith('?')) {
            // listed, then removed before it could be probed
        } else if (entry.endsWith('!')) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("this is not a book");
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

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
