// The models behind the reference list pages: accounts with their total row, borrowers, members
// and the category tree, read from fresh books.
#include <QAbstractItemModelTester>
#include <QIcon>
#include <QTest>
#include <memory>

#include "data/maccount.h"
#include "data/mborrower.h"
#include "data/mcategory.h"
#include "data/mmember.h"
#include "lists/maccountmodel.h"
#include "lists/mborrowermodel.h"
#include "lists/mcategorymodel.h"
#include "lists/mmembermodel.h"
#include "testenv.h"

namespace {
QString addAccount(const QString& name, const QString& kind, double amount, int sort)
{
    MAccount account;
    account.setName(name);
    account.setKind(kind);
    account.setAmount(amount);
    account.setDescription(name + "说明");
    account.setSort(sort);
    MAccount::insert(&account);
    return account.getId();
}

QString addCategory(const QString& name, const QString& kind, const QString& parentId = QString(), int sort = 0)
{
    MCategory category;
    category.setName(name);
    category.setKind(kind);
    category.setDescription(name + "说明");
    category.setCategoryId(parentId.isNull() ? QStringLiteral("") : parentId);
    if (sort)
        category.setSort(sort);
    MCategory::insert(&category);
    return category.getId();
}

QStringList rowTexts(const QAbstractItemModel& model, int row, const QModelIndex& parent = QModelIndex())
{
    QStringList texts;
    for (int column = 0; column < model.columnCount(parent); ++column)
        texts << model.data(model.index(row, column, parent)).toString();
    return texts;
}

QStringList headers(const QAbstractItemModel& model)
{
    QStringList texts;
    for (int column = 0; column < model.columnCount(); ++column)
        texts << model.headerData(column, Qt::Horizontal).toString();
    return texts;
}
}

class TestListModels : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void emptyAccountListShowsOnlyTheTotal();
    void accountTexts_data();
    void accountTexts();
    void accountTotalsAndRecords();
    void borrowerBalances();
    void members();
    void tableModelsPassTheModelTester();
    void categoryTree();
    void categoryTreePassesTheModelTester_data();
    void categoryTreePassesTheModelTester();
    void twoTreesOfOneKindAreBothWhole();

private:
    std::unique_ptr<TestEnv> env;
    std::unique_ptr<TestBook> book;
};

void TestListModels::init()
{
    env = std::make_unique<TestEnv>();
    book = std::make_unique<TestBook>(env->dataDir() + "book.db");
    QVERIFY(book->isOpen());
}

void TestListModels::cleanup()
{
    book.reset();
    env.reset();
}

void TestListModels::emptyAccountListShowsOnlyTheTotal()
{
    MAccountModel model;
    QCOMPARE(headers(model), QStringList({ "账户名称", "账户类型", "初始金额", "账户余额", "账户说明" }));
    QCOMPARE(model.rowCount(), 1);
    QCOMPARE(rowTexts(model, 0), QStringList({ "合计", "", "0.00", "0.00", "" }));
    QCOMPARE(model.getAccount(0), nullptr);
    QVERIFY(!model.data(model.index(0, 0), Qt::ToolTipRole).isValid());
    QVERIFY(!model.data(model.index(0, 5)).isValid());
    QCOMPARE(model.headerData(0, Qt::Vertical), QVariant(1)); // the base class's row number
}

void TestListModels::accountTexts_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<double>("amount");
    QTest::addColumn<double>("booked");
    QTest::addColumn<QStringList>("texts");

    QTest::newRow("bank card") << "card" << 100.0 << 0.0
                               << QStringList({ "卡", "银行卡", "100.00", "100.00", "卡说明" });
    QTest::newRow("unknown kind shows none")
        << "gold" << 0.0 << 0.0 << QStringList({ "卡", "", "0.00", "0.00", "卡说明" });
    QTest::newRow("negative balance") << "credit" << 0.0 << -12.5
                                      << QStringList({ "卡", "信用卡", "0.00", "-12.50", "卡说明" });
    QTest::newRow("rounded to cents") << "cash" << 3.456 << 0.0
                                      << QStringList({ "卡", "现金", "3.46", "3.46", "卡说明" });
    // 0.1 + 0.2 - 0.3 is not quite zero in doubles; a user must not see "-0.00".
    QTest::newRow("float noise is no minus")
        << "cash" << 0.1 << -0.4 << QStringList({ "卡", "现金", "0.10", "-0.30", "卡说明" });
    QTest::newRow("zero sum") << "cash" << 0.3 << -0.30000000000000004
                              << QStringList({ "卡", "现金", "0.30", "0.00", "卡说明" });
}

void TestListModels::accountTexts()
{
    QFETCH(QString, kind);
    QFETCH(double, amount);
    QFETCH(double, booked);
    QFETCH(QStringList, texts);

    const QString id = addAccount("卡", kind, amount, 1);
    if (booked != 0)
        addBillRow("expense", booked, QDate(2024, 5, 1), { { "account_id", id } });
    MAccount::clearCache();
    MAccountModel model;
    QCOMPARE(model.rowCount(), 2);
    QCOMPARE(rowTexts(model, 0), texts);
    QCOMPARE(rowTexts(model, 1).mid(2, 2), texts.mid(2, 2)); // one account: the total is the account
}

void TestListModels::accountTotalsAndRecords()
{
    const QString wallet = addAccount("钱包", "cash", 10.1, 2);
    const QString card = addAccount("工资卡", "card", 20.2, 1);
    addBillRow("expense", -5.05, QDate(2024, 5, 1), { { "account_id", wallet } });
    // A transfer from the card into the wallet: off the card, onto the wallet.
    addBillRow("transfer", -7, QDate(2024, 5, 2), { { "account_id", card }, { "to_account_id", wallet } });
    MAccount::clearCache();

    MAccountModel model;
    QCOMPARE(model.rowCount(), 3);
    QCOMPARE(rowTexts(model, 0), QStringList({ "工资卡", "银行卡", "20.20", "13.20", "工资卡说明" }));
    QCOMPARE(rowTexts(model, 1), QStringList({ "钱包", "现金", "10.10", "12.05", "钱包说明" }));
    QCOMPARE(rowTexts(model, 2), QStringList({ "合计", "", "30.30", "25.25", "" }));
    QCOMPARE(model.getAccount(0)->getId(), card);
    QCOMPARE(model.getAccount(1)->getId(), wallet);
    QCOMPARE(model.getAccount(2), nullptr);
    QCOMPARE(static_cast<MAccount*>(model.index(1, 3).internalPointer()), model.getAccount(1));
}

void TestListModels::borrowerBalances()
{
    MBorrower lent;
    lent.setName("老王");
    lent.setDescription("邻居");
    MBorrower::insert(&lent);
    MBorrower idle;
    idle.setName("小李");
    MBorrower::insert(&idle);
    // Lent 500, got 200 back: he still owes 300, which the list shows as the negative sum.
    addBillRow("lend", -500, QDate(2024, 5, 1), { { "borrower_id", lent.getId() } });
    addBillRow("refund", 200, QDate(2024, 5, 9), { { "borrower_id", lent.getId() } });
    MBorrower::clearCache();

    MBorrowerModel model;
    QCOMPARE(headers(model), QStringList({ "借款人名称", "余额", "借款人说明" }));
    QCOMPARE(model.rowCount(), 2);
    QCOMPARE(rowTexts(model, 0), QStringList({ "老王", "-300.00", "邻居" }));
    QCOMPARE(rowTexts(model, 1), QStringList({ "小李", "0.00", "" }));
    QCOMPARE(model.getBorrower(1)->getId(), idle.getId()); // the last row is a borrower like any other
}

void TestListModels::members()
{
    MMemberModel empty;
    QCOMPARE(empty.rowCount(), 0);
    QCOMPARE(headers(empty), QStringList({ "成员名称", "成员说明" }));

    for (const char* name : { "家人", "自己" }) {
        MMember member;
        member.setName(name);
        member.setDescription(QString(name) + "说明");
        member.setSort(QString(name) == "自己" ? 1 : 2);
        MMember::insert(&member);
    }
    MMemberModel model;
    QCOMPARE(model.rowCount(), 2);
    QCOMPARE(rowTexts(model, 0), QStringList({ "自己", "自己说明" }));
    QCOMPARE(rowTexts(model, 1), QStringList({ "家人", "家人说明" }));
    QCOMPARE(model.getMember(1)->getName(), QString("家人"));
}

void TestListModels::tableModelsPassTheModelTester()
{
    addAccount("钱包", "cash", 1, 1);
    MBorrower borrower;
    borrower.setName("老王");
    MBorrower::insert(&borrower);
    MMember member;
    member.setName("自己");
    MMember::insert(&member);

    MAccountModel accounts;
    MBorrowerModel borrowers;
    MMemberModel members;
    QAbstractItemModelTester checkAccounts(&accounts, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QAbstractItemModelTester checkBorrowers(&borrowers, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QAbstractItemModelTester checkMembers(&members, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QCOMPARE(accounts.rowCount(accounts.index(0, 0)), 0);
}

void TestListModels::categoryTree()
{
    const QString food = addCategory("餐饮", "expense", QString(), 1);
    const QString travel = addCategory("交通", "expense", QString(), 2);
    addCategory("工资", "income");
    addCategory("午餐", "expense", food, 2);
    addCategory("早餐", "expense", food, 1);
    const QString odd = addCategory("旧分类", "gold", QString(), 3);

    MCategoryModel model("expense");
    QCOMPARE(headers(model), QStringList({ "分类名称", "分类类型", "分类说明" }));
    QCOMPARE(model.rowCount(), 2);
    QCOMPARE(rowTexts(model, 0), QStringList({ "餐饮", "支出", "餐饮说明" }));
    QCOMPARE(model.getCategory(1)->getId(), travel);

    const QModelIndex foodIndex = model.index(0, 0);
    QCOMPARE(model.rowCount(foodIndex), 2);
    QCOMPARE(model.rowCount(model.index(0, 1)), 0); // only the name column carries children
    QCOMPARE(rowTexts(model, 0, foodIndex), QStringList({ "早餐", "支出", "早餐说明" }));
    QCOMPARE(rowTexts(model, 1, foodIndex), QStringList({ "午餐", "支出", "午餐说明" }));
    QCOMPARE(model.parent(model.index(1, 2, foodIndex)), foodIndex);
    QVERIFY(!model.parent(foodIndex).isValid());

    // The icon marks a top category with sub-categories, in the name column only.
    QVERIFY(model.data(foodIndex, Qt::DecorationRole).canConvert<QIcon>());
    QVERIFY(!model.data(model.index(0, 1), Qt::DecorationRole).isValid());
    QVERIFY(!model.data(model.index(1, 0), Qt::DecorationRole).isValid());
    QVERIFY(!model.data(model.index(0, 0, foodIndex), Qt::DecorationRole).isValid());

    // "income" lists every other kind; a kind the program does not know shows no label.
    MCategoryModel income("income");
    QCOMPARE(income.rowCount(), 2);
    QCOMPARE(rowTexts(income, 0), QStringList({ "工资", "收入", "工资说明" }));
    QCOMPARE(income.getCategory(1)->getId(), odd);
    QCOMPARE(rowTexts(income, 1).at(1), QString());
    MCategoryModel all("");
    QCOMPARE(all.rowCount(), 4);

    MCategoryModel empty("expense-none");
    QCOMPARE(empty.columnCount(), 3);
}

void TestListModels::categoryTreePassesTheModelTester_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("expense") << "expense";
    QTest::newRow("income") << "income";
    QTest::newRow("both kinds") << "";
}

void TestListModels::categoryTreePassesTheModelTester()
{
    QFETCH(QString, kind);

    const QString food = addCategory("餐饮", "expense");
    addCategory("早餐", "expense", food);
    addCategory("午餐", "expense", food);
    addCategory("交通", "expense");
    const QString salary = addCategory("工资", "income");
    addCategory("奖金", "income", salary);

    MCategoryModel model(kind);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QVERIFY(model.rowCount() > 0);
}

void TestListModels::twoTreesOfOneKindAreBothWhole()
{
    const QString food = addCategory("餐饮", "expense");
    addCategory("早餐", "expense", food);

    MCategoryModel first("expense");
    MCategoryModel second("expense");
    for (const MCategoryModel* model : { &first, &second }) {
        const QModelIndex sub = model->index(0, 0, model->index(0, 0));
        QCOMPARE(sub.data().toString(), QString("早餐"));
        QCOMPARE(model->parent(sub), model->index(0, 0));
    }
    // The shared records are not written by a model.
    QCOMPARE(MCategory::getById(food)->getParent(), nullptr);
}

QTEST_MAIN(TestListModels)
#include "tst_listmodels.moc"
