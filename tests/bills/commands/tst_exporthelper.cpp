// The bill export file: its page, its cells, stored texts that hold markup, replacing an older
// file, and files that cannot be written.
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QProcess>
#include <QSqlQuery>
#include <QUrl>
#include <QStandardPaths>
#include <QTest>
#include <csignal>
#include <memory>
#include <sys/resource.h>

#include "billlistfixture.h"
#include "bills/exporthelper.h"
#include "data/constants.h"
#include "data/mbill.h"
#include "exportedtable.h"
#include "modalanswerer.h"
#include "testenv.h"

namespace {

const QByteArray Head = "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\" "
                        "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd\">\r\n"
                        "<html xmlns=\"http://www.w3.org/1999/xhtml\" >\r\n"
                        "<head>\r\n"
                        "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\" />\r\n"
                        "</head>\r\n"
                        "<body>\r\n"
                        "<table border=\"1\">\r\n"
                        "<tr>\r\n"
                        "<td>日期</td>\r\n<td>类型</td>\r\n<td>金额</td>\r\n<td>账户</td>\r\n<td>大类别</td>\r\n"
                        "<td>小类别</td>\r\n<td>转入账户</td>\r\n<td>借款人</td>\r\n<td>成员</td>\r\n<td>标题</td>\r\n"
                        "<td>说明</td>\r\n"
                        "</tr>\r\n";
const QByteArray Tail = "</table>\r\n</body>\r\n</html>\r\n";

const QStringList HeaderCells { "日期", "类型", "金额", "账户", "大类别", "小类别", "转入账户", "借款人", "成员",
    "标题", "说明" };

QList<MBill*> allBills()
{
    return *MBill::get(QStringLiteral(" 1=1 "));
}

// The cells of the file's table, row by row, as a reader of the page sees them.
QList<QStringList> tableOf(const QString& path)
{
    QString error;
    const QList<QStringList> rows = exportedTable(path, &error);
    if (!error.isEmpty())
        qWarning("not well-formed: %s", qPrintable(error));
    return rows;
}

// Comma-separated lines with quoted fields ("" for a quote inside), as LibreOffice writes them.
QList<QStringList> parseCsv(const QString& text)
{
    QList<QStringList> rows { QStringList() };
    QString field;
    bool quoted = false;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text.at(i + 1) == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            rows.last().append(field);
            field.clear();
        } else if (c == '\n') {
            rows.last().append(field);
            field.clear();
            rows.append(QStringList());
        } else if (c != '\r') {
            field += c;
        }
    }
    if (!field.isEmpty() || !rows.last().isEmpty())
        rows.last().append(field);
    if (rows.last().isEmpty())
        rows.removeLast();
    return rows;
}

} // namespace

class TestExportHelper : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void writesOneRowPerBill();
    void emptyListWritesACompletePage();
    void amountsAndKinds_data();
    void amountsAndKinds();
    void storedTextComesOutAsText_data();
    void storedTextComesOutAsText();
    void nulCharactersStayOut();
    void replacesALongerFile();
    void fileIsTheOwnersAlone();
    void fileThatCannotBeOpened_data();
    void fileThatCannotBeOpened();
    void failedWriteLeavesTheOldFile();
    void spreadsheetReadsTheCells();
    void saveDialogAddsTheExtension_data();
    void saveDialogAddsTheExtension();
    void saveDialogStartsWhereTheLastExportWent();

private:
    std::unique_ptr<TestEnv> env;
    std::unique_ptr<TestBook> book;
};

void TestExportHelper::init()
{
    env = std::make_unique<TestEnv>();
    book = std::make_unique<TestBook>(env->dataDir() + "book.db");
    QVERIFY(book->isOpen());
    addReferences();
}

void TestExportHelper::cleanup()
{
    book.reset();
    env.reset();
}

void TestExportHelper::writesOneRowPerBill()
{
    addBill("expense", -12.5, QDate(2013, 7, 5),
        { { "category_id", "C1" }, { "sub_category_id", "S1" }, { "account_id", "A1" }, { "member_id", "M1" },
            { "title", "豆浆" }, { "description", "早上" } });
    addBill("transfer", -200, QDate(2013, 7, 6), { { "account_id", "A2" }, { "to_account_id", "A1" } });
    // The borrower was deleted: its cell stays empty.
    addBill("lend", -100, QDate(2013, 7, 7), { { "account_id", "A1" }, { "borrower_id", "gone" } });

    const QString path = env->root() + "/bills.xls";
    QList<MBill*> bills = allBills();
    QVERIFY(ExportHelper::exportBills(path, &bills));
    QCOMPARE(fileBytes(path),
        Head
            + "<tr>\r\n<td>2013-07-07</td>\r\n<td>借出</td>\r\n<td>-100.00</td>\r\n<td>现金</td>\r\n<td></td>\r\n"
              "<td></td>\r\n<td></td>\r\n<td></td>\r\n<td></td>\r\n<td></td>\r\n<td></td>\r\n</tr>\r\n"
              "<tr>\r\n<td>2013-07-06</td>\r\n<td>转账</td>\r\n<td>-200.00</td>\r\n<td>银行卡</td>\r\n<td></td>\r\n"
              "<td></td>\r\n<td>现金</td>\r\n<td></td>\r\n<td></td>\r\n<td></td>\r\n<td></td>\r\n</tr>\r\n"
              "<tr>\r\n<td>2013-07-05</td>\r\n<td>支出</td>\r\n<td>-12.50</td>\r\n<td>现金</td>\r\n<td>餐饮</td>\r\n"
              "<td>早餐</td>\r\n<td></td>\r\n<td></td>\r\n<td>自己</td>\r\n<td>豆浆</td>\r\n<td>早上</td>\r\n</tr>\r\n"
            + Tail);
}

void TestExportHelper::emptyListWritesACompletePage()
{
    const QString path = env->root() + "/bills.xls";
    QList<MBill*> none;
    QVERIFY(ExportHelper::exportBills(path, &none));
    QCOMPARE(fileBytes(path), Head + Tail);
    QCOMPARE(tableOf(path), QList<QStringList> { HeaderCells });
}

void TestExportHelper::amountsAndKinds_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<double>("amount");
    QTest::addColumn<QString>("kindCell");
    QTest::addColumn<QString>("amountCell");

    QTest::newRow("expense") << "expense" << -12.5 << "支出"
                             << "-12.50";
    QTest::newRow("income") << "income" << 3.0 << "收入"
                            << "3.00";
    QTest::newRow("transfer") << "transfer" << -0.125 << "转账"
                              << "-0.13";
    QTest::newRow("borrow") << "borrow" << 1234567.891 << "借入"
                            << "1234567.89";
    QTest::newRow("unknown kind") << "gift" << 1.0 << ""
                                  << "1.00";
}

void TestExportHelper::amountsAndKinds()
{
    QFETCH(QString, kind);
    QFETCH(double, amount);
    QFETCH(QString, kindCell);
    QFETCH(QString, amountCell);
    addBill(kind, amount, QDate(2013, 7, 5), { { "account_id", "A1" } });

    const QString path = env->root() + "/bills.xls";
    QList<MBill*> bills = allBills();
    QVERIFY(ExportHelper::exportBills(path, &bills));
    const QList<QStringList> table = tableOf(path);
    QCOMPARE(table.size(), 2);
    QCOMPARE(table.at(1).mid(1, 2), (QStringList { kindCell, amountCell }));
}

void TestExportHelper::storedTextComesOutAsText_data()
{
    QTest::addColumn<QString>("text");

    QTest::newRow("tags") << "<b>粗</b><script>alert(1)</script>";
    QTest::newRow("ampersand and entity") << "R&D &amp; &lt;";
    QTest::newRow("quotes") << "\"quoted\" it's 'single'";
    QTest::newRow("closing the cell") << "</td></tr></table>";
}

void TestExportHelper::nulCharactersStayOut()
{
    // Written into the book by another program: the file must not carry them.
    addBill("expense", -1, QDate(2013, 7, 5),
        { { "account_id", "A1" }, { "title", QString("a") + QChar(0) + "b" },
            { "description", QString("c") + QChar(0) + QChar(0) + "d" } });
    const QString path = env->root() + "/bills.xls";
    QList<MBill*> bills = allBills();
    QVERIFY(ExportHelper::exportBills(path, &bills));
    QVERIFY(!fileBytes(path).contains('\0'));
    const QList<QStringList> table = tableOf(path);
    QCOMPARE(table.at(1).at(9), QString("ab"));
    QCOMPARE(table.at(1).at(10), QString("cd"));
}

void TestExportHelper::storedTextComesOutAsText()
{
    QFETCH(QString, text);
    QSqlQuery query;
    query.prepare("update tbl_account set name=? where id='A1'");
    query.addBindValue(text + "账户");
    QVERIFY(query.exec());
    TestBook::resetRecordCaches();
    addBill("expense", -1, QDate(2013, 7, 5),
        { { "account_id", "A1" }, { "title", text }, { "description", text + "\n第二行" } });

    const QString path = env->root() + "/bills.xls";
    QList<MBill*> bills = allBills();
    QVERIFY(ExportHelper::exportBills(path, &bills));
    const QList<QStringList> table = tableOf(path);
    QCOMPARE(table.size(), 2);
    QCOMPARE(table.at(1).size(), 11);
    QCOMPARE(table.at(1).at(3), text + "账户");
    QCOMPARE(table.at(1).at(9), text);
    QCOMPARE(table.at(1).at(10), text + "\n第二行");
    QVERIFY(!fileBytes(path).contains("<b>"));
}

void TestExportHelper::replacesALongerFile()
{
    const QString path = env->root() + "/bills.xls";
    QVERIFY(writeFile(path, QByteArray(100000, '#')));
    addBill("income", 3, QDate(2013, 7, 5), { { "account_id", "A1" } });
    QList<MBill*> bills = allBills();
    QVERIFY(ExportHelper::exportBills(path, &bills));
    const QByteArray written = fileBytes(path);
    QVERIFY(written.startsWith(Head));
    QVERIFY(written.endsWith(Tail));
    QVERIFY(!written.contains('#'));
    QCOMPARE(tableOf(path).size(), 2);
}

void TestExportHelper::fileIsTheOwnersAlone()
{
    ScopedUmask careless(0);
    const QString fresh = env->root() + "/new.xls";
    const QString older = env->root() + "/old.xls";
    QVERIFY(writeFile(older, "old"));
    QVERIFY(QFile::setPermissions(older, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther));
    QList<MBill*> bills = allBills();
    const QFile::Permissions ownerOnly
        = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser | QFileDevice::WriteUser;
    for (const QString& path : { fresh, older }) {
        QVERIFY(ExportHelper::exportBills(path, &bills));
        QCOMPARE(QFileInfo(path).permissions(), ownerOnly);
    }
}

void TestExportHelper::fileThatCannotBeOpened_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("a folder") << "folder";
    QTest::newRow("in a missing folder") << "missing/bills.xls";
}

void TestExportHelper::fileThatCannotBeOpened()
{
    QFETCH(QString, name);
    QVERIFY(QDir(env->root()).mkdir("folder"));
    addBill("income", 3, QDate(2013, 7, 5), { { "account_id", "A1" } });
    QList<MBill*> bills = allBills();
    QString reason;
    QVERIFY(!ExportHelper::exportBills(env->root() + "/" + name, &bills, &reason));
    QVERIFY(!reason.isEmpty());
    QVERIFY(QFileInfo(env->root() + "/folder").isDir());
    QVERIFY(!QFile::exists(env->root() + "/missing"));
}

void TestExportHelper::failedWriteLeavesTheOldFile()
{
    const QString folder = env->root() + "/out";
    QVERIFY(QDir().mkpath(folder));
    const QString path = folder + "/bills.xls";
    QVERIFY(writeFile(path, "the export of last month"));
    for (int i = 0; i < 200; ++i)
        addBill("expense", -i, QDate(2013, 7, 1).addDays(i % 28), { { "account_id", "A1" } });
    QList<MBill*> bills = allBills();

    // A full disk, as far as this process can tell: writes past 8 KiB fail.
    rlimit before {};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &before), 0);
    rlimit small = before;
    small.rlim_cur = 8192;
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
    QString reason;
    const bool exported = ExportHelper::exportBills(path, &bills, &reason);
    setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, previousHandler);

    QVERIFY(!exported);
    QVERIFY(!reason.isEmpty());
    QCOMPARE(fileBytes(path), QByteArray("the export of last month"));
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList { "bills.xls" });
}

void TestExportHelper::spreadsheetReadsTheCells()
{
    const QString office = QStandardPaths::findExecutable("soffice");
    if (office.isEmpty())
        QSKIP("LibreOffice is not installed");

    const QString marked = QStringLiteral("<b>A&B</b> \"q\" it's");
    addBill("expense", -12.5, QDate(2013, 7, 5),
        { { "category_id", "C1" }, { "sub_category_id", "S1" }, { "account_id", "A1" }, { "member_id", "M1" },
            { "title", marked }, { "description", "早上" } });
    addBill("borrow", 300, QDate(2013, 6, 10), { { "account_id", "A2" }, { "borrower_id", "B2" } });

    const QString path = env->root() + "/bills.xls";
    QList<MBill*> bills = allBills();
    QVERIFY(ExportHelper::exportBills(path, &bills));

    QProcess process;
    process.start(office,
        { "-env:UserInstallation=" + QUrl::fromLocalFile(env->root() + "/office").toString(), "--headless",
            "--convert-to", "csv:Text - txt - csv (StarCalc):44,34,76,1", "--outdir", env->root() + "/csv", path });
    QVERIFY(process.waitForFinished(180000));
    QCOMPARE(process.exitCode(), 0);
    QFile csv(env->root() + "/csv/bills.csv");
    QVERIFY2(csv.open(QIODevice::ReadOnly), qPrintable(QString::fromUtf8(process.readAllStandardError())));
    const QList<QStringList> rows = parseCsv(QString::fromUtf8(csv.readAll()));

    QCOMPARE(rows.size(), 3);
    QCOMPARE(rows.at(0), HeaderCells);
    QStringList expense = rows.at(1);
    QCOMPARE(expense.value(2).toDouble(), -12.5);
    expense[2].clear();
    QCOMPARE(
        expense, (QStringList { "2013-07-05", "支出", "", "现金", "餐饮", "早餐", "", "", "自己", marked, "早上" }));
    QStringList borrow = rows.at(2);
    QCOMPARE(borrow.value(2).toDouble(), 300.0);
    // Empty cells at the end of a row are not written.
    QCOMPARE(borrow.mid(0, 2) + borrow.mid(3, 5), (QStringList { "2013-06-10", "借入", "银行卡", "", "", "", "老李" }));
}

void TestExportHelper::saveDialogAddsTheExtension_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("csv");
    QTest::addColumn<QString>("chosen");

    QTest::newRow("name alone") << "bills" << false << "bills.xls";
    QTest::newRow("name with the extension") << "bills.xls" << false << "bills.xls";
    QTest::newRow("csv chosen") << "bills" << true << "bills.csv";
    QTest::newRow("cancelled") << "" << false << "";
}

void TestExportHelper::saveDialogAddsTheExtension()
{
    QFETCH(QString, typed);
    QFETCH(bool, csv);
    QFETCH(QString, chosen);
    QStringList shown;
    ModalAnswerer boxes;
    boxes.expect(
        ModalAnswerer::ofClass("QFileDialog"),
        [&](QWidget* modal) {
            auto* dialog = static_cast<QFileDialog*>(modal);
            shown << dialog->windowTitle() << dialog->nameFilters() << dialog->directory().absolutePath();
            if (typed.isEmpty()) {
                dialog->reject();
                return;
            }
            if (csv)
                dialog->selectNameFilter(dialog->nameFilters().last());
            dialog->findChild<QLineEdit*>("fileNameEdit")->setText(env->root() + "/" + typed);
            QMetaObject::invokeMethod(dialog, "accept");
        },
        "the save dialog");
    const QString path = ExportHelper::askFileName(nullptr);
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    // It starts where the user keeps documents, not in the folder the program was started from.
    QCOMPARE(shown,
        (QStringList { "导出Excel文件", "导出Excel文件 (*.xls)", "导出CSV文件 (*.csv)",
            QDir(Constants::getDocumentsDir()).absolutePath() }));
    QCOMPARE(path, chosen.isEmpty() ? QString() : env->root() + "/" + chosen);
}

void TestExportHelper::saveDialogStartsWhereTheLastExportWent()
{
    // The folder of the last export, as long as it is there; else where the user keeps documents.
    const QString exports = env->root() + "/exports";
    QVERIFY(QDir().mkpath(exports));
    QStringList folders;
    const auto answer = [&folders](const QString& path) {
        return [&folders, path](QWidget* modal) {
            auto* dialog = static_cast<QFileDialog*>(modal);
            folders << dialog->directory().absolutePath();
            if (path.isEmpty()) {
                dialog->reject();
                return;
            }
            dialog->findChild<QLineEdit*>("fileNameEdit")->setText(path);
            QMetaObject::invokeMethod(dialog, "accept");
        };
    };
    ModalAnswerer boxes;
    boxes.expect(ModalAnswerer::ofClass("QFileDialog"), answer(exports + "/bills.xls"));
    boxes.expect(ModalAnswerer::ofClass("QFileDialog"), answer(QString()));
    boxes.expect(ModalAnswerer::ofClass("QFileDialog"), answer(QString()));
    QCOMPARE(ExportHelper::askFileName(nullptr), exports + "/bills.xls");
    // Cancelled, the dialog changes nothing.
    QCOMPARE(ExportHelper::askFileName(nullptr), QString());
    QVERIFY(QDir(exports).removeRecursively());
    QCOMPARE(ExportHelper::askFileName(nullptr), QString());
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    const QString documents = QDir(Constants::getDocumentsDir()).absolutePath();
    QCOMPARE(folders, (QStringList { documents, exports, documents }));
}

QTEST_MAIN(TestExportHelper)
#include "tst_exporthelper.moc"
