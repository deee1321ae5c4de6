// quorvane-import on the command line: a new book, a second run, a dry run, columns named on the
// command line, refusals with their exit codes, and a book held by a running program.
#include <QDir>
#include <QLockFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include "data/booklock.h"
#include "testenv.h"

namespace {

struct Run {
    int code = -1;
    QString out;
    QString err;
};

Run run(const QStringList& arguments)
{
    QProcess process;
    process.start(QStringLiteral(QUORVANE_IMPORT_TOOL), arguments);
    Run result;
    if (!process.waitForFinished(60000))
        return result;
    result.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

QString fixture(const QString& name)
{
    return QStringLiteral(QUORVANE_IMPORT_FIXTURES "/") + name;
}

} // namespace

class TestImportTool : public QObject {
    Q_OBJECT

private slots:
    void newBookThenNothingTwice();
    void dryRunChangesNothing();
    void columnsOnTheCommandLine();
    void refusals_data();
    void refusals();
    void heldBookRefused();
};

void TestImportTool::newBookThenNothingTwice()
{
    QTemporaryDir dir;
    const QString book = dir.filePath(QStringLiteral("迁移.db"));
    Run first = run({ book, fixture(QStringLiteral("accounts.qif")) });
    QCOMPARE(first.code, 0);
    QVERIFY2(first.out.contains(QStringLiteral("已导入 5 条账目。")), qPrintable(first.out + first.err));
    // A new book has its default records besides the imported ones.
    QCOMPARE(valueIn(book, QStringLiteral("select count(*) from tbl_bill")).toInt(), 5);
    QCOMPARE(valueIn(book, QStringLiteral("select count(*) from tbl_account where id in ('01','02')")).toInt(), 2);
    QCOMPARE(valueIn(book, QStringLiteral("select count(*) from tbl_sub_category where id='25'")).toInt(), 1);
    QCOMPARE(QDir(dir.filePath(QStringLiteral("backup"))).entryList(QDir::Files).size(), 1);
    // Nothing else lands beside the book: no settings, no lock left behind.
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList { QStringLiteral("迁移.db") });

    Run second = run({ book, fixture(QStringLiteral("accounts.qif")) });
    QCOMPARE(second.code, 0);
    QVERIFY(second.out.contains(QStringLiteral("已导入 0 条账目。")));
    QVERIFY(second.out.contains(QStringLiteral("跳过重复的账目 5 条。")));
    QCOMPARE(valueIn(book, QStringLiteral("select count(*) from tbl_bill")).toInt(), 5);
}

void TestImportTool::dryRunChangesNothing()
{
    QTemporaryDir dir;
    const QString book = dir.filePath(QStringLiteral("new.db"));
    Run dry = run({ QStringLiteral("--dry-run"), QStringLiteral("--account"), QStringLiteral("现金"), book,
        fixture(QStringLiteral("bank-gb18030.csv")) });
    QCOMPARE(dry.code, 0);
    QVERIFY2(dry.out.contains(QStringLiteral("将导入 4 条账目。")), qPrintable(dry.out + dry.err));
    QVERIFY(!QFile::exists(book));

    QVERIFY(
        run({ book, fixture(QStringLiteral("cash-mdy.qif")), QStringLiteral("--account"), QStringLiteral("现金") }).code
        == 0);
    const QByteArray before = fileBytes(book);
    QCOMPARE(run({ QStringLiteral("--dry-run"), QStringLiteral("--account"), QStringLiteral("现金"), book,
                     fixture(QStringLiteral("bank-gb18030.csv")) })
                 .code,
        0);
    QCOMPARE(fileBytes(book), before);
}

void TestImportTool::columnsOnTheCommandLine()
{
    QTemporaryDir dir;
    const QString book = dir.filePath(QStringLiteral("b.db"));
    const QString csv = dir.filePath(QStringLiteral("plain.csv"));
    QVERIFY(writeFile(csv, "05.01.2023;Coffee;-4,50;Kaffee\n06.01.2023;Salary;2.000,00;\n"));
    Run result = run({ QStringLiteral("--columns"), QStringLiteral("date,title,amount,-"), QStringLiteral("--account"),
        QStringLiteral("Giro"), book, csv });
    QCOMPARE(result.code, 0);
    QVERIFY2(result.out.contains(QStringLiteral("已导入 2 条账目。")), qPrintable(result.out + result.err));
    QCOMPARE(valueIn(book, QStringLiteral("select sum(amount) from tbl_bill")).toDouble(), 1995.5);
    QCOMPARE(valueIn(book, QStringLiteral("select count(*) from tbl_account where name='Giro'")).toInt(), 1);

    // A header row the roles replace is no row of bills.
    const QString headed = dir.filePath(QStringLiteral("headed.csv"));
    QVERIFY(writeFile(headed, "Datum;Text;Betrag;Notiz\n07.01.2023;Bread;-2,20;\n"));
    result = run({ QStringLiteral("--columns"), QStringLiteral("date,title,amount,-"), QStringLiteral("--account"),
        QStringLiteral("Giro"), book, headed });
    QCOMPARE(result.code, 0);
    QVERIFY2(result.out.contains(QStringLiteral("已导入 1 条账目。")), qPrintable(result.out + result.err));
    QVERIFY(result.out.contains(QStringLiteral("无法读取的行 0 条。")));
}

void TestImportTool::refusals_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("message");
    QTest::newRow("unknown preset") << QStringList { "--preset", "excel" } << QByteArray("date,amount\n2023-01-01,1\n")
                                    << "no preset excel";
    QTest::newRow("unknown role") << QStringList { "--columns", "date,sum" } << QByteArray("2023-01-01,1\n")
                                  << "--columns: sum";
    QTest::newRow("no header, no columns")
        << QStringList {} << QByteArray("2023-01-01,1\n2023-01-02,2\n") << "no header row";
    QTest::newRow("ambiguous dates") << QStringList { "--account", "A" } << QByteArray("date,amount\n3/4/2023,1\n")
                                     << "--date-order";
    QTest::newRow("empty file") << QStringList {} << QByteArray() << "文件是空的。";
    QTest::newRow("no amount column") << QStringList {} << QByteArray("date,title\n2023-01-01,x\n") << "没有金额列";
}

void TestImportTool::refusals()
{
    QFETCH(QStringList, options);
    QFETCH(QByteArray, file);
    QFETCH(QString, message);
    QTemporaryDir dir;
    const QString csv = dir.filePath(QStringLiteral("in.csv"));
    QVERIFY(writeFile(csv, file));
    const QString book = dir.filePath(QStringLiteral("x.db"));
    const Run result = run(options + QStringList { book, csv });
    QCOMPARE(result.code, 2);
    QVERIFY2(result.err.contains(message), qPrintable(result.err));
    // A book is made only for a file that can be booked.
    QVERIFY(!QFile::exists(book) || valueIn(book, QStringLiteral("select count(*) from tbl_bill")).toInt() == 0);
    QCOMPARE(QFile::exists(book),
        !result.err.contains(QStringLiteral("--columns:")) && !result.err.contains(QStringLiteral("preset"))
            && !result.err.contains(QStringLiteral("header")) && !result.err.contains(QStringLiteral("空")));
}

void TestImportTool::heldBookRefused()
{
    QTemporaryDir dir;
    const QString book = dir.filePath(QStringLiteral("open.db"));
    QVERIFY(run({ book, fixture(QStringLiteral("accounts.qif")) }).code == 0);
    const QByteArray before = fileBytes(book);
    QLockFile held(BookLock::lockFilePath(book));
    QVERIFY(held.tryLock(0));
    const Run result
        = run({ book, fixture(QStringLiteral("cash-mdy.qif")), QStringLiteral("--account"), QStringLiteral("现金") });
    QCOMPARE(result.code, 3);
    QVERIFY(result.err.contains(QStringLiteral("running program")));
    QCOMPARE(fileBytes(book), before);
}

QTEST_GUILESS_MAIN(TestImportTool)
#include "tst_importtool.moc"
