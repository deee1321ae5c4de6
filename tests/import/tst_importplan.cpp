// Statements and other programs' files booked into a book: the fixtures, duplicates, bad input,
// names mapped, the order of day and month, and the booking as one whole after a backup.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSqlQuery>
#include <QTest>

#include "bills/exporthelper.h"
#include "data/constants.h"
#include "data/maccount.h"
#include "data/mbill.h"
#include "importfixture.h"

namespace {

using Order = ValueParser::DateOrder;

QString writeTemp(const QString& dir, const QString& name, const QByteArray& bytes)
{
    const QString path = dir + name;
    writeFile(path, bytes);
    return path;
}

QStringList backups(const QString& dataDir)
{
    return QDir(dataDir + QStringLiteral("backup")).entryList(QDir::Files);
}

// "name=balance" for every account, sorted.
QString balances()
{
    MAccount::clearCache();
    QStringList parts;
    for (const MAccount* account : *MAccount::get())
        parts << account->getName() + QLatin1Char('=') + QString::number(account->getBalance(), 'f', 2);
    parts.sort();
    return parts.join(QLatin1Char(';'));
}

// Totals per category, sub-category and month, as the analyses group them.
QString categoryTotals()
{
    QSqlQuery query;
    query.exec(
        QStringLiteral("select coalesce(c.name,''), coalesce(s.name,''), b.month, b.kind, round(total(b.amount),2) "
                       "from tbl_bill b left join tbl_category c on c.id=b.category_id left join "
                       "tbl_sub_category s on s.id=b.sub_category_id group by 1,2,3,4 order by 1,2,3,4"));
    QStringList rows;
    while (query.next())
        rows << QStringLiteral("%1/%2/%3/%4=%5")
                    .arg(query.value(0).toString(), query.value(1).toString(), query.value(2).toString(),
                        query.value(3).toString(), QString::number(query.value(4).toDouble(), 'f', 2));
    return rows.join(QLatin1Char('\n'));
}

} // namespace

class TestImportPlan : public QObject {
    Q_OBJECT

private slots:
    void fixtures_data();
    void fixtures();
    void csvRowsFieldByField();
    void qifTransfersAndSplits();
    void duplicates();
    void asTheFileSays_data();
    void asTheFileSays();
    void badFiles_data();
    void badFiles();
    void badRows_data();
    void badRows();
    void hostileNames();
    void changingFile_data();
    void changingFile();
    void pathologicalFiles_data();
    void pathologicalFiles();
    void tooLarge();
    void wholeOrNothing();
    void failedBackupBooksNothing();
    void mappedNames();
    void dateOrderAsked();
    void roundTrip();
};

void TestImportPlan::fixtures_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("defaultAccount");
    QTest::addColumn<int>("booked");
    QTest::addColumn<QString>("balances");
    QTest::addColumn<QString>("encoding");

    QTest::newRow("gb18030 statement") << "bank-gb18030.csv" << QStringLiteral("我的银行卡") << 4
                                       << QStringLiteral("我的钱包=0.00;我的银行卡=11096.50") << "GB18030";
    QTest::newRow("utf-8, income and expense columns")
        << "statement-utf8.csv" << QString() << 4
        << QStringLiteral("交通卡=-100.00;我的钱包=0.00;我的银行卡=0.00;招商银行=8383.60") << "UTF-8";
    QTest::newRow("utf-8 with bom, semicolons, decimal commas")
        << "semicolon-bom.csv" << QStringLiteral("我的钱包") << 3 << QStringLiteral("我的钱包=719.54;我的银行卡=0.00")
        << "UTF-8";
    QTest::newRow("utf-16, tabs, own export")
        << "own-utf16.tsv" << QString() << 3 << QStringLiteral("我的钱包=158.00;我的银行卡=-500.00") << "UTF-16LE";
    QTest::newRow("quoted fields") << "quoted.csv" << QStringLiteral("我的钱包") << 3
                                   << QStringLiteral("我的钱包=4.50;我的银行卡=0.00") << "UTF-8";
    QTest::newRow("qif, two accounts") << "accounts.qif" << QString() << 5
                                       << QStringLiteral("Checking=2080.00;Visa=255.00;我的钱包=0.00;我的银行卡=0.00")
                                       << "UTF-8";
    QTest::newRow("qif, cash, month first") << "cash-mdy.qif" << QStringLiteral("我的钱包") << 3
                                            << QStringLiteral("我的钱包=83.50;我的银行卡=0.00") << "UTF-8";
}

void TestImportPlan::fixtures()
{
    QFETCH(QString, file);
    QFETCH(QString, defaultAccount);
    QFETCH(int, booked);
    ImportFixture fixture;
    QVERIFY(fixture.isReady());
    ImportSource::Settings settings;
    settings.defaultAccount = defaultAccount;
    QVERIFY2(fixture.read(ImportFixture::fixture(file), settings), qPrintable(fixture.error));
    QTEST(fixture.source.encoding(), "encoding");
    QVERIFY2(fixture.plan->problem().isEmpty(), qPrintable(fixture.plan->problem()));
    QCOMPARE(fixture.plan->count(ImportPlan::Status::New), booked);
    QCOMPARE(fixture.plan->count(ImportPlan::Status::Unreadable), 0);

    const int billsBefore = ImportFixture::count(QStringLiteral("tbl_bill"));
    const int backupsBefore = int(backups(fixture.dataDir()).size());
    ImportPlan::Summary summary;
    QVERIFY2(fixture.book(&summary), qPrintable(fixture.error));
    QCOMPARE(summary.booked, booked);
    QCOMPARE(ImportFixture::count(QStringLiteral("tbl_bill")), billsBefore + booked);
    QCOMPARE(int(backups(fixture.dataDir()).size()), backupsBefore + 1);
    QVERIFY(backups(fixture.dataDir()).contains(summary.backupName));
    QTEST(balances(), "balances");
    // Every new record has an id of its own, the way a record entered by hand gets one.
    QCOMPARE(scalar(QStringLiteral("select count(*) from tbl_bill where length(id)<>36")).toInt(), 0);
    QCOMPARE(scalar(QStringLiteral("select count(*) from tbl_bill where version is null")).toInt(), 0);

    // The same file once more books nothing.
    QVERIFY(fixture.read(ImportFixture::fixture(file), settings));
    QCOMPARE(fixture.plan->count(ImportPlan::Status::New), 0);
    QCOMPARE(fixture.plan->count(ImportPlan::Status::Duplicate), booked);
    QVERIFY(fixture.book(&summary));
    QCOMPARE(summary.booked, 0);
    QCOMPARE(ImportFixture::count(QStringLiteral("tbl_bill")), billsBefore + booked);
}

void TestImportPlan::csvRowsFieldByField()
{
    ImportFixture fixture;
    ImportSource::Settings settings;
    settings.defaultAccount = QStringLiteral("我的银行卡");
    QVERIFY(fixture.read(ImportFixture::fixture(QStringLiteral("bank-gb18030.csv")), settings));
    const QList<ImportPlan::Row>& rows = fixture.plan->rows();
    QCOMPARE(rows.size(), 4);
    const ImportPlan::Row& pay = rows.at(2);
    QCOMPARE(pay.line, 4);
    QCOMPARE(pay.date, QDate(2023, 3, 5));
    QCOMPARE(pay.kind, QStringLiteral("income"));
    QCOMPARE(pay.amount, 12500.0);
    QCOMPARE(fixture.plan->text(pay, ColumnRole::Account), QStringLiteral("我的银行卡"));
    QCOMPARE(fixture.plan->text(pay, ColumnRole::Title), QStringLiteral("星辰科技有限公司"));
    QCOMPARE(fixture.plan->text(pay, ColumnRole::Description), QStringLiteral("三月工资"));
    QCOMPARE(fixture.plan->text(pay, ColumnRole::Category), QStringLiteral("未分类"));
    const ImportPlan::Row& shop = rows.at(3);
    QCOMPARE(shop.kind, QStringLiteral("expense"));
    QCOMPARE(shop.amount, -88.0);

    // The header's categories: an existing pair, a new sub-category under an existing category.
    QVERIFY(fixture.read(ImportFixture::fixture(QStringLiteral("statement-utf8.csv"))));
    const ImportPlan::Row& power = fixture.plan->rows().at(1);
    QCOMPARE(fixture.plan->text(power, ColumnRole::Category), QStringLiteral("日常居家"));
    QCOMPARE(fixture.plan->text(power, ColumnRole::SubCategory), QStringLiteral("水电煤气"));
    QCOMPARE(power.amount, -156.3);
    ImportPlan::Summary summary;
    QVERIFY(fixture.book(&summary));
    // 招商银行, 交通卡, the sub-category 交通出行 and the income category 未分类 with its sub-category.
    QCOMPARE(summary.createdNames, 5);
    QCOMPARE(scalar(QStringLiteral("select count(*) from tbl_bill where category_id='03' and sub_category_id='09' and "
                                   "amount=-156.3 and date='2023-04-03' and month=202304 and title='电费'"))
                 .toInt(),
        1);
    QCOMPARE(scalar(QStringLiteral("select c.name from tbl_bill b join tbl_sub_category s on s.id=b.sub_category_id "
                                   "join tbl_category c on c.id=s.category_id where b.title='地铁充值'"))
                 .toString(),
        QStringLiteral("交通出行"));
    QCOMPARE(scalar(QStringLiteral("select kind from tbl_account where name='招商银行'")).toString(),
        QStringLiteral("other"));
}

void TestImportPlan::qifTransfersAndSplits()
{
    ImportFixture fixture;
    QVERIFY(fixture.read(ImportFixture::fixture(QStringLiteral("accounts.qif"))));
    QCOMPARE(fixture.source.pairedTransfers(), 1);
    QCOMPARE(fixture.plan->fileDateOrder(), Order::DayMonth);
    const QList<ImportPlan::Row>& rows = fixture.plan->rows();
    QCOMPARE(rows.size(), 5);
    const ImportPlan::Row& transfer = rows.at(1);
    QCOMPARE(transfer.kind, QStringLiteral("transfer"));
    QCOMPARE(fixture.plan->text(transfer, ColumnRole::Account), QStringLiteral("Checking"));
    QCOMPARE(fixture.plan->text(transfer, ColumnRole::ToAccount), QStringLiteral("Visa"));
    QCOMPARE(transfer.amount, -300.0);
    // Each split is a bill of its own, on the transaction's date and payee.
    QCOMPARE(rows.at(2).line, rows.at(3).line);
    QCOMPARE(fixture.plan->text(rows.at(2), ColumnRole::Category), QStringLiteral("Food"));
    QCOMPARE(fixture.plan->text(rows.at(2), ColumnRole::SubCategory), QStringLiteral("Groceries"));
    QCOMPARE(fixture.plan->text(rows.at(2), ColumnRole::Description), QStringLiteral("Food"));
    QCOMPARE(fixture.plan->text(rows.at(3), ColumnRole::Category), QStringLiteral("Household"));
    QCOMPARE(rows.at(3).amount, -30.0);
    QCOMPARE(fixture.plan->text(rows.at(3), ColumnRole::Title), QStringLiteral("Supermarket"));
    // The class after "/" is no part of the category; day before month: 03/01 is the third of January.
    QCOMPARE(fixture.plan->text(rows.at(4), ColumnRole::Category), QStringLiteral("Entertainment"));
    QCOMPARE(rows.at(4).date, QDate(2023, 1, 3));
    // "Income" only says what the bill's kind says.
    QCOMPARE(fixture.plan->text(rows.at(0), ColumnRole::Category), QStringLiteral("Salary"));
    QCOMPARE(fixture.plan->text(rows.at(0), ColumnRole::SubCategory), QStringLiteral("Salary"));

    // Read again as the dialog does after a change (here the date order), from the bytes kept,
    // not the text: the same records.
    QString error;
    ImportSource::Settings again;
    again.dateOrder = Order::MonthDay;
    QVERIFY2(fixture.source.parse(again, &error), qPrintable(error));
    QCOMPARE(fixture.source.records().size(), 5);
    QCOMPARE(fixture.source.records().at(4).value(ColumnRole::Title), QStringLiteral("Cinema"));
    again.dateOrder = Order::DayMonth;
    QVERIFY2(fixture.source.parse(again, &error), qPrintable(error));
    fixture.plan->build(fixture.source, Order::DayMonth, QString());
    QCOMPARE(fixture.plan->rows().size(), 5);
    QCOMPARE(fixture.plan->rows().at(4).date, QDate(2023, 1, 3));

    ImportPlan::Summary summary;
    QVERIFY(fixture.book(&summary));
    QCOMPARE(
        scalar(QStringLiteral("select kind from tbl_account where name='Visa'")).toString(), QStringLiteral("credit"));
    QCOMPARE(scalar(QStringLiteral("select kind from tbl_account where name='Checking'")).toString(),
        QStringLiteral("card"));
    QCOMPARE(scalar(QStringLiteral("select count(*) from tbl_bill where kind='transfer'")).toInt(), 1);
}

void TestImportPlan::duplicates()
{
    ImportFixture fixture;
    const QByteArray text
        = "date,amount,title\n2023-01-05,-4.50,Coffee\n2023-01-05,-4.50,Coffee\n2023-01-05,-4.50,Tea\n";
    const QString path = writeTemp(fixture.dataDir(), QStringLiteral("twice.csv"), text);
    ImportSource::Settings settings;
    settings.defaultAccount = QStringLiteral("我的钱包");
    // The book has one of the two coffees: the other one and the tea are new.
    QVERIFY(
        execAll({ QStringLiteral("insert into tbl_bill (id,amount,description,date,month,category_id,"
                                 "sub_category_id,account_id,to_account_id,borrower_id,member_id,title,kind) values "
                                 "('c1',-4.5,'','2023-01-05',202301,'01','01','01','','','','Coffee','expense')") }));
    QVERIFY(fixture.read(path, settings));
    QCOMPARE(fixture.plan->count(ImportPlan::Status::New), 2);
    QCOMPARE(fixture.plan->count(ImportPlan::Status::Duplicate), 1);
    QCOMPARE(fixture.plan->rows().at(0).reason, QStringLiteral("账本中已有相同的账目"));
    QCOMPARE(fixture.plan->rows().at(1).status, ImportPlan::Status::New);
    QCOMPARE(fixture.plan->preview().booked, 2);
    // A ticked duplicate is booked too.
    fixture.plan->setTicked(0, true);
    ImportPlan::Summary summary;
    QVERIFY(fixture.book(&summary));
    QCOMPARE(summary.booked, 3);
    QCOMPARE(ImportFixture::count(QStringLiteral("tbl_bill")), 4);

    // Three coffees in the book answer for both rows of the file.
    QVERIFY(fixture.read(path, settings));
    QCOMPARE(fixture.plan->count(ImportPlan::Status::New), 0);
    QCOMPARE(fixture.plan->rows().at(1).reason, QStringLiteral("账本中已有相同的账目"));
}

void TestImportPlan::asTheFileSays_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("preset");
    // What the book holds afterwards: the bills booked, their sum, "category/sub-category" of each
    // (sorted, distinct) and each bill's "kind account>to-account amount description" (sorted).
    QTest::addColumn<int>("booked");
    QTest::addColumn<QString>("total");
    QTest::addColumn<QString>("categories");
    QTest::addColumn<QString>("bills");
    // A text the closing box must hold, or empty.
    QTest::addColumn<QString>("said");

    QTest::newRow("twins") << "twins.csv"
                           << QByteArray("date,amount,account,to-account,category,title\n"
                                         "2023-01-05,-4.50,我的钱包,,餐饮:咖啡,Coffee\n"
                                         "2023-01-05,-4.50,我的钱包,,餐饮:咖啡,Coffee\n"
                                         "2023-01-06,50,我的钱包,我的银行卡,,Move\n"
                                         "2023-01-06,50,我的钱包,储蓄卡,,Move\n"
                                         "2023-01-07,-10,我的钱包,,餐饮:午餐,Shop\n"
                                         "2023-01-07,-10,我的钱包,,日用:纸巾,Shop\n")
                           << QString() << 6 << "-129.00" << QStringLiteral("日用/纸巾,餐饮/午餐,餐饮/咖啡")
                           << QStringLiteral("expense 我的钱包> -10.00 ;expense 我的钱包> -10.00 ;"
                                             "expense 我的钱包> -4.50 ;expense 我的钱包> -4.50 ;"
                                             "transfer 我的钱包>储蓄卡 -50.00 ;transfer 我的钱包>我的银行卡 -50.00 ")
                           << QString();
    QTest::newRow("split of two equal parts")
        << "equal.qif" << QByteArray("!Type:Cash\nD2023-02-01\nT-40.00\nPMarket\nSFood\n$-20.00\nSFood\n$-20.00\n^\n")
        << QString() << 2 << "-40.00" << QStringLiteral("Food/Food")
        << QStringLiteral("expense 我的钱包> -20.00 ;expense 我的钱包> -20.00 ") << QString();
    QTest::newRow("split short of its total")
        << "short.qif"
        << QByteArray("!Type:Cash\nD2023-02-01\nT-100.00\nPMarket\nMWeekly\nSFood\n$-30.00\nSHome\n$-20.00\n^\n")
        << QString() << 3 << "-100.00" << QStringLiteral("Food/Food,Home/Home,未分类/未分类")
        << QStringLiteral("expense 我的钱包> -20.00 Weekly;expense 我的钱包> -30.00 Weekly;"
                          "expense 我的钱包> -50.00 Weekly")
        << QStringLiteral("第 2 行：拆分各部分合计 -50.00，与总额 -100.00 相差 -50.00，差额记为“未分类”");
    QTest::newRow("split with an unreadable part")
        << "broken.qif"
        << QByteArray("!Type:Cash\nD2023-02-01\nT-50.00\nPMarket\nSFood\n$-30.00\nSHome\n$-2O.00\n^\n"
                      "D2023-02-02\nT-5.00\nPBus\n^\n")
        << QString() << 1 << "-5.00" << QStringLiteral("未分类/未分类") << QStringLiteral("expense 我的钱包> -5.00 ")
        << QStringLiteral("第 2 行：拆分的第 2 部分：金额“-2O.00”无法识别");
    QTest::newRow("split with a part whose name cannot be a record")
        << "control.qif"
        << QByteArray("!Type:Cash\nD2023-02-01\nT-50.00\nPMarket\nMThe weekly shopping at the market on the "
                      "first day of the month, with the whole family\nSFood\n$-30.00\nSHo\x01me\n$-20.00\n^\n")
        << QString() << 0 << "0.00" << QString() << QString() << QStringLiteral("拆分的另一部分无法读取");
    QTest::newRow("transfer halves a day apart, payees differ")
        << "transfer.qif"
        << QByteArray("!Account\nNChecking\nTBank\n^\n!Type:Bank\nD01/30/2023\nT-300.00\nPTo savings\n"
                      "L[Savings]\n^\nD02/03/2023\nT-300.00\nPTo savings again\nL[Savings]\n^\n"
                      "!Account\nNSavings\nTBank\n^\n!Type:Bank\nD01/31/2023\nT300.00\nPFrom checking\n"
                      "L[Checking]\n^\nD02/06/2023\nT300.00\nPChecking\nL[Checking]\n^\n")
        << QString() << 2 << "-600.00" << QString()
        << QStringLiteral("transfer Checking>Savings -300.00 ;transfer Checking>Savings -300.00 ") << QString();
    QTest::newRow("skrooge categories") << "skrooge.csv"
                                        << QByteArray("date,account,payee,comment,category,amount\n"
                                                      "2023-03-01,Cash,Shop,,Food > Groceries,-12.00\n"
                                                      "2023-03-02,Cash,Rent,,Housing > Rent > Flat,-500.00\n")
                                        << QStringLiteral("skrooge") << 2 << "-512.00"
                                        << QStringLiteral("Food/Groceries,Rent/Flat")
                                        << QStringLiteral("expense Cash> -12.00 ;expense Cash> -500.00 ") << QString();
    QTest::newRow("gnucash and kmymoney categories")
        << "levels.csv"
        << QByteArray("date,amount,category,title\n2023-03-01,-700,Expense:Housing:Rent,a\n"
                      "2023-03-02,-8,Expenses:Groceries,b\n2023-03-03,-9,支出:餐饮:午餐,c\n"
                      "2023-03-04,900,Income:Salary,d\n")
        << QString() << 4 << "183.00" << QStringLiteral("Groceries/Groceries,Housing/Rent,Salary/Salary,餐饮/午餐")
        << QStringLiteral("expense 我的钱包> -700.00 ;expense 我的钱包> -8.00 ;expense 我的钱包> -9.00 ;"
                          "income 我的钱包> 900.00 ")
        << QString();
    QTest::newRow("over-long names shortened")
        << "long.csv"
        << QByteArray("date,amount,category,member,title\n"
                      "2023-03-01,-1,Entertainment and Recreation:Concerts and Theatre,,a\n"
                      "2023-03-02,-2,Entertainment and Recreation:Concerts and Theatre,Grandmother Elisabeth Smith,b\n")
        << QString() << 2 << "-3.00" << QStringLiteral("Entertainment and Re/Concerts and Theatre")
        << QStringLiteral("expense 我的钱包> -1.00 ;expense 我的钱包> -2.00 ")
        << QStringLiteral("第 2 行：名称“Entertainment and Recreation…”超过20个字符，记为“Entertainment and Re”");
    QTest::newRow("malformed amounts")
        << "amounts.csv"
        << QByteArray("date,amount,title\n2023-03-01,1.2.3,a\n2023-03-02,99999999999999,b\n"
                      "2023-03-03,-1.005,c\n2023-03-04,-0.125,d\n2023-03-05,\"-1,234.565\",e\n")
        << QString() << 3 << "-1235.71" << QStringLiteral("未分类/未分类")
        << QStringLiteral("expense 我的钱包> -0.13 ;expense 我的钱包> -1.01 ;expense 我的钱包> -1234.57 ")
        << QStringLiteral("第 2 行：金额“1.2.3”无法识别\n第 3 行：金额“99999999999999”超出范围");
    QTest::newRow("bank statement memo") << "bank.csv"
                                         << QByteArray("交易日期,交易金额,对方户名,摘要\n"
                                                       "2023-03-01,-25.00,兰州拉面,午饭\n2023-03-02,-3.00,地铁,通勤\n")
                                         << QString() << 2 << "-28.00" << QStringLiteral("未分类/未分类")
                                         << QStringLiteral("expense 我的钱包> -25.00 午饭;expense 我的钱包> -3.00 通勤")
                                         << QString();
}

void TestImportPlan::asTheFileSays()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, preset);
    QFETCH(int, booked);
    QFETCH(QString, said);
    ImportFixture fixture;
    const QString path = writeTemp(fixture.dataDir(), name, bytes);
    ImportSource::Settings settings;
    settings.defaultAccount = QStringLiteral("我的钱包");
    settings.preset = preset;
    QVERIFY2(fixture.read(path, settings), qPrintable(fixture.error));
    QVERIFY2(fixture.plan->problem().isEmpty(), qPrintable(fixture.plan->problem()));
    QCOMPARE(fixture.plan->preview().booked, booked);
    ImportPlan::Summary summary;
    QVERIFY2(fixture.book(&summary), qPrintable(fixture.error));
    const QString text = ImportPlan::summaryText(summary);
    QVERIFY2(text.startsWith(QStringLiteral("已导入 %1 条账目。").arg(booked)), qPrintable(text));
    QVERIFY2(text.contains(said), qPrintable(text));

    QCOMPARE(ImportFixture::count(QStringLiteral("tbl_bill")), booked);
    QTEST(QString::number(scalar(QStringLiteral("select total(amount) from tbl_bill")).toDouble() + 0.0, 'f', 2),
        "total");
    QSqlQuery query;
    QVERIFY(query.exec(QStringLiteral(
        "select distinct c.name || '/' || s.name from tbl_bill b join tbl_category c on c.id=b.category_id "
        "join tbl_sub_category s on s.id=b.sub_category_id order by 1")));
    QStringList categories;
    while (query.next())
        categories << query.value(0).toString();
    QTEST(categories.join(QLatin1Char(',')), "categories");
    QVERIFY(query.exec(QStringLiteral(
        "select b.kind || ' ' || a.name || '>' || coalesce(t.name,'') || ' ' || printf('%.2f', b.amount) || ' ' || "
        "b.description from tbl_bill b join tbl_account a on a.id=b.account_id left join tbl_account t on "
        "t.id=b.to_account_id order by 1")));
    QStringList bills;
    while (query.next())
        bills << query.value(0).toString();
    QTEST(bills.join(QLatin1Char(';')), "bills");

    // The same file once more books nothing.
    QVERIFY(fixture.read(path, settings));
    QCOMPARE(fixture.plan->preview().booked, 0);
    QVERIFY(fixture.book(&summary));
    QCOMPARE(summary.booked, 0);
    QCOMPARE(ImportFixture::count(QStringLiteral("tbl_bill")), booked);
}

void TestImportPlan::badFiles_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("error");
    QTest::newRow("empty") << QByteArray() << QStringLiteral("文件是空的。");
    QByteArray binary("\x89PNG\r\n\x1a\n");
    for (int i = 0; i < 2048; ++i)
        binary += char(i % 256);
    QTest::newRow("binary") << binary << QStringLiteral("这不是一个文本文件。");
    QTest::newRow("undetectable encoding") << QByteArray("date,amount\n2023-01-05,\xFF\xFE\xFF\xFF\n")
                                           << QStringLiteral("无法识别文件的编码，请选择文件的编码。");
    QTest::newRow("header only") << QByteArray("date,amount\n")
                                 << QStringLiteral("文件里只有标题行，没有可以导入的账目。");
    QTest::newRow("blank lines") << QByteArray("\n\r\n  \n") << QStringLiteral("文件里没有可以导入的账目。");
}

void TestImportPlan::badFiles()
{
    QFETCH(QByteArray, bytes);
    ImportFixture fixture;
    const QString path = writeTemp(fixture.dataDir(), QStringLiteral("bad.csv"), bytes);
    QVERIFY(!fixture.read(path));
    QTEST(fixture.error, "error");
}

void TestImportPlan::badRows_data()
{
    QTest::addColumn<QByteArray>("row");
    QTest::addColumn<QString>("reason");
    QTest::newRow("too few fields") << QByteArray("2023-01-05,-3") << QStringLiteral("只有 2 个字段，应有 3 个");
    QTest::newRow("amount abc") << QByteArray("2023-01-05,abc,x") << QStringLiteral("金额“abc”无法识别");
    QTest::newRow("no such day") << QByteArray("2023-02-30,-3,x") << QStringLiteral("日期“2023-02-30”不存在");
    QTest::newRow("no date") << QByteArray(",-3,x") << QStringLiteral("没有日期");
    QTest::newRow("no amount") << QByteArray("2023-01-05,,x") << QStringLiteral("没有金额");
}

void TestImportPlan::badRows()
{
    QFETCH(QByteArray, row);
    QFETCH(QString, reason);
    ImportFixture fixture;
    const QString path = writeTemp(fixture.dataDir(), QStringLiteral("rows.csv"),
        "date,amount,title\n2023-01-04,-1,good\n" + row + "\n2023-01-06,-2,good too\n");
    ImportSource::Settings settings;
    settings.defaultAccount = QStringLiteral("我的钱包");
    QVERIFY(fixture.read(path, settings));
    QCOMPARE(fixture.plan->count(ImportPlan::Status::Unreadable), 1);
    QCOMPARE(fixture.plan->rows().at(1).reason, reason);
    ImportPlan::Summary summary;
    QVERIFY(fixture.book(&summary));
    QCOMPARE(summary.booked, 2);
    QCOMPARE(summary.unreadable, 1);
    QCOMPARE(summary.unreadableRows.first().first, 3);
    const QString text = ImportPlan::summaryText(summary);
    QVERIFY2(text.contains(QStringLiteral("第 3 行：") + reason), qPrintable(text));
    QVERIFY(text.contains(QStringLiteral("已导入 2 条账目。")));
}

void TestImportPlan::hostileNames()
{
    ImportFixture fixture;
    const QString longName(10000, QLatin1Char('x'));
    const QByteArray text = "date,amount,category,title\n"
                            "2023-01-01,-1,O'Brien,quote\n"
                            "2023-01-02,-2,<script>alert(1)</script>,script\n"
                            "2023-01-03,-3,\"two\nlines\",break\n"
                            "2023-01-04,-4,"
        + longName.toUtf8()
        + ",long\n"
          "2023-01-05,-5,');drop table x;--,sql\n";
    const QString path = writeTemp(fixture.dataDir(), QStringLiteral("names.csv"), text);
    ImportSource::Settings settings;
    settings.defaultAccount = QStringLiteral("我的钱包");
    QVERIFY(fixture.read(path, settings));
    const QList<ImportPlan::Row>& rows = fixture.plan->rows();
    QCOMPARE(rows.at(0).status, ImportPlan::Status::New);
    // "/" parts a category from its sub-category, whatever else the name holds.
    QCOMPARE(fixture.plan->text(rows.at(1), ColumnRole::Category), QStringLiteral("<script>alert(1)<"));
    QCOMPARE(fixture.plan->text(rows.at(1), ColumnRole::SubCategory), QStringLiteral("script>"));
    QCOMPARE(rows.at(2).status, ImportPlan::Status::Unreadable);
    QVERIFY(rows.at(2).reason.contains(QStringLiteral("换行")));
    // An over-long name is cut to the limit, and the closing box says so briefly.
    QCOMPARE(rows.at(3).status, ImportPlan::Status::New);
    QCOMPARE(fixture.plan->text(rows.at(3), ColumnRole::Category), QString(20, QLatin1Char('x')));
    QCOMPARE(fixture.plan->preview().notes.size(), 1);
    QVERIFY(fixture.plan->preview().notes.first().second.contains(QStringLiteral("超过20个字符")));
    QVERIFY(fixture.plan->preview().notes.first().second.size() < 80);

    ImportPlan::Summary summary;
    QVERIFY(fixture.book(&summary));
    QCOMPARE(summary.booked, 4);
    QCOMPARE(summary.unreadable, 1);
    QCOMPARE(scalar(QStringLiteral("select count(*) from tbl_category where name='O''Brien'")).toInt(), 1);
    QCOMPARE(scalar(QStringLiteral("select count(*) from tbl_category where name='<script>alert(1)<'")).toInt(), 1);
    QCOMPARE(scalar(QStringLiteral("select count(*) from tbl_category where name like '%drop table%'")).toInt(), 1);
    QCOMPARE(ImportFixture::count(QStringLiteral("tbl_bill")), 4);
}

void TestImportPlan::changingFile_data()
{
    // Files whose size the system gives otherwise than their bytes stand in for one written to
    // while it is read: the kernel's settings files read shorter than their size, its process files
    // longer.
    QTest::addColumn<QString>("path");
    QTest::newRow("read shorter than its size") << QStringLiteral("/sys/kernel/mm/transparent_hugepage/enabled");
    QTest::newRow("read longer than its size") << QStringLiteral("/proc/self/status");
}

void TestImportPlan::changingFile()
{
    QFETCH(QString, path);
    const QFileInfo info(path);
    if (!info.isFile())
        QSKIP("the system has no such file");
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    if (bytes.size() == info.size())
        QSKIP("the system gives this file's true size");
    ImportFixture fixture;
    QVERIFY(!fixture.read(path));
    QVERIFY2(fixture.error.contains(QStringLiteral("在读取时发生了变化")), qPrintable(fixture.error));
    QCOMPARE(ImportFixture::count(QStringLiteral("tbl_bill")), 0);
}

void TestImportPlan::pathologicalFiles_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("error");
    QByteArray wide = "date,amount";
    for (int i = 0; i < 2000000; ++i)
        wide += ",c";
    wide += "\n2023-01-01,-1\n";
    QTest::newRow("a header of two million columns")
        << wide << QStringLiteral("第 1 行有超过 500 列，这不是账目文件。");
    QTest::newRow("a field of 5 MB") << "date,amount,title\n2023-01-01,-1,a\n2023-01-02,-2," + QByteArray(5 << 20, 'x')
            + "\n" << QStringLiteral("第 3 行有一个超过 16 KB 的字段，这不是账目文件。");
    QTest::newRow("an open quote to the end") << "date,amount,title\n2023-01-01,-1,\"" + QByteArray(1 << 20, 'y')
                                              << QStringLiteral("第 2 行有一个超过 16 KB 的字段，这不是账目文件。");
}

void TestImportPlan::pathologicalFiles()
{
    QFETCH(QByteArray, bytes);
    ImportFixture fixture;
    const QString path = writeTemp(fixture.dataDir(), QStringLiteral("odd.csv"), bytes);
    QVERIFY(!fixture.read(path));
    QTEST(fixture.error, "error");
    QCOMPARE(ImportFixture::count(QStringLiteral("tbl_bill")), 0);
}

void TestImportPlan::tooLarge()
{
    ImportFixture fixture;
    const QString path = fixture.dataDir() + QStringLiteral("huge.csv");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QVERIFY(file.resize(200LL * 1024 * 1024)); // sparse: no 200 MB written
    file.close();
    QVERIFY(!fixture.read(path));
    QVERIFY2(fixture.error.contains(QStringLiteral("文件太大（200 MB）")), qPrintable(fixture.error));
}

void TestImportPlan::wholeOrNothing()
{
    ImportFixture fixture;
    const QString path = writeTemp(fixture.dataDir(), QStringLiteral("boom.csv"),
        "date,amount,account,category,title\n2023-01-01,-1,新账户,新类别,one\n2023-01-02,-2,新账户,新类别,boom\n"
        "2023-01-03,-3,新账户,新类别,three\n");
    QVERIFY(fixture.read(path));
    // The book refuses the second bill half-way through.
    QVERIFY(execAll({ QStringLiteral("create temp trigger refuse before insert on tbl_bill when new.title='boom' "
                                     "begin select raise(abort, 'refused'); end") }));
    const int accounts = ImportFixture::count(QStringLiteral("tbl_account"));
    const int categories = ImportFixture::count(QStringLiteral("tbl_category"));
    ImportPlan::Summary summary;
    QVERIFY(!fixture.book(&summary));
    QVERIFY2(fixture.error.contains(QStringLiteral("第 3 行")), qPrintable(fixture.error));
    QCOMPARE(ImportFixture::count(QStringLiteral("tbl_bill")), 0);
    QCOMPARE(ImportFixture::count(QStringLiteral("tbl_account")), accounts);
    QCOMPARE(ImportFixture::count(QStringLiteral("tbl_category")), categories);
    QCOMPARE(ImportFixture::count(QStringLiteral("tbl_sub_category_deleted")), 0);
    MBill::clearCache();
    QCOMPARE(MBill::count(QStringLiteral(" 1=1 ")), 0);
}

void TestImportPlan::failedBackupBooksNothing()
{
    ImportFixture fixture;
    QVERIFY(fixture.read(ImportFixture::fixture(QStringLiteral("accounts.qif"))));
    // A file where the backup folder should be: no backup can be written.
    const QString backupDir = QDir::cleanPath(Constants::getInstance()->getBackupDir());
    QVERIFY(QDir(backupDir).removeRecursively());
    QFile blocker(backupDir);
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    ImportPlan::Summary summary;
    QVERIFY(!fixture.book(&summary));
    QVERIFY(fixture.error.contains(QStringLiteral("备份")));
    QVERIFY(summary.backupName.isEmpty());
    QCOMPARE(ImportFixture::count(QStringLiteral("tbl_bill")), 0);
    QCOMPARE(ImportFixture::count(QStringLiteral("tbl_account")), 2);
}

void TestImportPlan::mappedNames()
{
    ImportFixture fixture;
    QVERIFY(fixture.read(ImportFixture::fixture(QStringLiteral("statement-utf8.csv"))));
    const QList<ImportPlan::MissingName>& missing = fixture.plan->missingNames();
    int bank = -1;
    for (int i = 0; i < missing.size(); ++i) {
        if (missing.at(i).name.name == QStringLiteral("招商银行"))
            bank = i;
    }
    QVERIFY(bank >= 0);
    QCOMPARE(missing.at(bank).rows, 3);
    const auto accounts = fixture.plan->candidates(ImportPlan::NameType::Account, QString());
    QCOMPARE(accounts.size(), 2);
    fixture.plan->mapName(bank, QStringLiteral("02"));
    QCOMPARE(fixture.plan->text(fixture.plan->rows().at(0), ColumnRole::Account), QStringLiteral("我的银行卡"));
    QCOMPARE(fixture.plan->missingNames().at(bank).mappedTo, QStringLiteral("02"));

    // The refund names no category: its new sub-category mapped to one of the book's under another
    // category brings that category, shown and booked, and the new category is not made.
    int uncategorised = -1;
    for (int i = 0; i < fixture.plan->missingNames().size(); ++i) {
        const ImportPlan::Name& name = fixture.plan->missingNames().at(i).name;
        if (name.type == ImportPlan::NameType::SubCategory && name.kind == QLatin1String("income"))
            uncategorised = i;
    }
    QVERIFY(uncategorised >= 0);
    QString other;
    for (const auto& candidate :
        fixture.plan->candidates(ImportPlan::NameType::SubCategory, QStringLiteral("income"))) {
        if (candidate.first == QStringLiteral("其它收入 - 其它收入"))
            other = candidate.second;
    }
    QVERIFY(!other.isEmpty());
    fixture.plan->mapName(uncategorised, other);
    const ImportPlan::Row& refund = fixture.plan->rows().at(3);
    QCOMPARE(fixture.plan->text(refund, ColumnRole::Category), QStringLiteral("其它收入"));
    QCOMPARE(fixture.plan->text(refund, ColumnRole::SubCategory), QStringLiteral("其它收入"));

    ImportPlan::Summary summary;
    QVERIFY(fixture.book(&summary));
    QCOMPARE(scalar(QStringLiteral("select count(*) from tbl_account where name='招商银行'")).toInt(), 0);
    QCOMPARE(scalar(QStringLiteral("select count(*) from tbl_bill where account_id='02'")).toInt(), 3);
    QCOMPARE(scalar(QStringLiteral("select c.name from tbl_bill b join tbl_category c on c.id=b.category_id "
                                   "where b.sub_category_id='%1'")
                        .arg(other))
                 .toString(),
        QStringLiteral("其它收入"));
    QCOMPARE(
        scalar(QStringLiteral("select count(*) from tbl_category where name='未分类' and kind='income'")).toInt(), 0);
}

void TestImportPlan::dateOrderAsked()
{
    ImportFixture fixture;
    const QString path = writeTemp(
        fixture.dataDir(), QStringLiteral("order.csv"), "date,amount,title\n3/4/2023,-1,a\n5/6/2023,-2,b\n");
    ImportSource::Settings settings;
    settings.defaultAccount = QStringLiteral("我的钱包");
    QVERIFY(fixture.read(path, settings));
    QVERIFY(fixture.plan->needsDateOrder());
    ImportPlan::Summary summary;
    QVERIFY(!fixture.book(&summary));
    QCOMPARE(ImportFixture::count(QStringLiteral("tbl_bill")), 0);

    QVERIFY(fixture.read(path, settings, Order::DayMonth));
    QVERIFY(!fixture.plan->needsDateOrder());
    QCOMPARE(fixture.plan->rows().at(0).date, QDate(2023, 4, 3));
    QVERIFY(fixture.read(path, settings, Order::MonthDay));
    QCOMPARE(fixture.plan->rows().at(0).date, QDate(2023, 3, 4));

    // One date that only one order makes a day tells the order of the whole file.
    const QString told = writeTemp(
        fixture.dataDir(), QStringLiteral("told.csv"), "date,amount,title\n3/4/2023,-1,a\n25/6/2023,-2,b\n");
    QVERIFY(fixture.read(told, settings));
    QVERIFY(!fixture.plan->needsDateOrder());
    QCOMPARE(fixture.plan->rows().at(0).date, QDate(2023, 4, 3));
}

void TestImportPlan::roundTrip()
{
    ImportFixture source;
    QVERIFY(source.isReady());
    // A book of 10,000 bills of every kind, on further accounts, borrowers and members too.
    QVERIFY(execAll({ QStringLiteral("insert into tbl_account (id,name,kind,amount,description,sort) values "
                                     "('a3','招商银行','card',0,'',3),('a4','支付宝','other',0,'',4)"),
        QStringLiteral("insert into tbl_borrower (id,name,kind,description,sort) values ('b2','小王','debtor','',2)"),
        QStringLiteral("insert into tbl_member (id,name,description,sort) values ('m3','孩子','',3)") }));
    const QStringList accounts { "01", "02", "a3", "a4" };
    const QStringList kinds { "expense", "expense", "expense", "income", "transfer", "lend", "borrow", "refund",
        "repay" };
    const QStringList titles { "午饭", "", "超市, 日用品", "房租 \"三月\"", "工资", "两行\n说明" };
    QRandomGenerator random(31);
    QSqlQuery insert;
    insert.prepare(QStringLiteral("insert into tbl_bill (id,amount,description,date,month,category_id,sub_category_id,"
                                  "account_id,to_account_id,borrower_id,member_id,title,kind) values "
                                  "(?,?,?,?,?,?,?,?,?,?,?,?,?)"));
    QVERIFY(QSqlDatabase::database().transaction());
    for (int i = 0; i < 10000; ++i) {
        const QString kind = kinds.at(random.bounded(int(kinds.size())));
        const QDate date = QDate(2020, 1, 1).addDays(random.bounded(1500));
        const double amount = (random.bounded(100000) + 1) / 100.0;
        const bool negative = kind == "expense" || kind == "transfer" || kind == "lend" || kind == "repay";
        const int sub = kind == "income" ? 23 + random.bounded(3) : 1 + random.bounded(22);
        QString category;
        if (MBill::isCategoryKind(kind))
            category = scalar(QStringLiteral("select category_id from tbl_sub_category where id='%1'")
                                  .arg(sub, 2, 10, QLatin1Char('0')))
                           .toString();
        const QString account = accounts.at(random.bounded(4));
        QString toAccount;
        if (kind == "transfer")
            toAccount = accounts.at((accounts.indexOf(account) + 1 + random.bounded(3)) % 4);
        const bool loan = !MBill::isCategoryKind(kind) && kind != "transfer";
        // A title of its own per bill: two bills alike in date, amount, account and title would be
        // the same bill to the import.
        const QVariantList values { QStringLiteral("rt-%1").arg(i), negative ? -amount : amount,
            titles.at(i % titles.size()), date, date.year() * 100 + date.month(), category,
            category.isEmpty() ? QString("") : QStringLiteral("%1").arg(sub, 2, 10, QLatin1Char('0')), account,
            toAccount.isEmpty() ? QString("") : toAccount, loan ? (i % 2 ? "01" : "b2") : "",
            MBill::isCategoryKind(kind) ? (i % 3 ? "01" : "m3") : "", titles.at(i % titles.size()) + QString::number(i),
            kind };
        for (const QVariant& value : values)
            insert.addBindValue(value);
        QVERIFY2(insert.exec(), qPrintable(QString::number(i)));
    }
    QVERIFY(QSqlDatabase::database().commit());
    MBill::clearCache();
    const QString expectedBalances = balances();
    const QString expectedTotals = categoryTotals();

    const QString exported = source.dataDir() + QStringLiteral("bills.csv");
    QString reason;
    QVERIFY2(ExportHelper::exportBillsCsv(exported, *MBill::get(QStringLiteral(" 1=1 ")), &reason), qPrintable(reason));
    QVERIFY(fileBytes(exported).startsWith("\xEF\xBB\xBF\"日期\",\"类型\",\"金额\""));

    ImportFixture target;
    QVERIFY(target.isReady());
    QVERIFY2(target.read(exported), qPrintable(target.error));
    QCOMPARE(target.source.presetKey(), QStringLiteral("quorvane"));
    QCOMPARE(target.plan->count(ImportPlan::Status::Unreadable), 0);
    QCOMPARE(target.plan->count(ImportPlan::Status::New), 10000);
    ImportPlan::Summary summary;
    QVERIFY2(target.book(&summary), qPrintable(target.error));
    QCOMPARE(summary.booked, 10000);
    QCOMPARE(balances(), expectedBalances);
    QCOMPARE(categoryTotals(), expectedTotals);
    QCOMPARE(scalar(QStringLiteral("select count(*) from tbl_bill where kind='lend' and borrower_id in (select id "
                                   "from tbl_borrower where name='小王')"))
                 .toInt(),
        scalar(QStringLiteral("select count(*) from tbl_bill where kind='lend' and title like '%' and borrower_id<>'' "
                              "and borrower_id<>'01'"))
            .toInt());

    QVERIFY(target.read(exported));
    QCOMPARE(target.plan->count(ImportPlan::Status::New), 0);
    QVERIFY(target.book(&summary));
    QCOMPARE(summary.booked, 0);
    QCOMPARE(ImportFixture::count(QStringLiteral("tbl_bill")), 10000);
}

QTEST_GUILESS_MAIN(TestImportPlan)
#include "tst_importplan.moc"
