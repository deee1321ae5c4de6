#include <QTest>

#include "data/mbill.h"
#include "data/mcategory.h"
#include "notifierrecorder.h"
#include "testenv.h"

namespace {

QStringList ids(const QList<MCategory*>& categories)
{
    QStringList result;
    for (const MCategory* category : categories)
        result << category->getId();
    return result;
}

} // namespace

class TestMCategory : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void treeIsLoadedOnceForBothKinds();
    void listsByKind_data();
    void listsByKind();
    void subCategoryLists();
    void lookupsStayOnTheirLevel();
    void indexAmongSiblings_data();
    void indexAmongSiblings();
    void billCountByLevel();
    void newCategoriesGoAfterTheirSiblings();
    void movingASubCategoryTakesItsBills_data();
    void movingASubCategoryTakesItsBills();
    void removingATopCategoryLeavesOrphans();
    void clearCacheEmptiesTheSharedLists();
    void removeClearsAStaleTombstone();

private:
    std::unique_ptr<TestEnv> env;
    std::unique_ptr<TestBook> book;
};

void TestMCategory::init()
{
    env = std::make_unique<TestEnv>();
    book = std::make_unique<TestBook>(env->dataDir() + "book.db");
    QVERIFY(execAll({ "insert into tbl_category (id, name, kind, sort) values ('e1', '餐饮', 'expense', 1)",
        "insert into tbl_category (id, name, kind, sort) values ('e2', '交通', 'expense', 3)",
        "insert into tbl_category (id, name, kind, sort) values ('i1', '工资', 'income', 2)",
        "insert into tbl_category (id, name, kind, sort) values ('x1', '别的', 'other', 4)",
        "insert into tbl_sub_category (id, category_id, name, kind, sort) values ('s1', 'e1', '午餐', 'expense', 2)",
        "insert into tbl_sub_category (id, category_id, name, kind, sort) values ('s2', 'e1', '早餐', 'expense', 1)",
        "insert into tbl_sub_category (id, category_id, name, kind, sort) values ('s3', 'i1', '月薪', 'income', 1)",
        "update tbl_sub_category set version='2007-07-07 07:07:07'" }));
}

void TestMCategory::cleanup()
{
    book.reset();
    env.reset();
}

void TestMCategory::treeIsLoadedOnceForBothKinds()
{
    QList<MCategory*>* expense = MCategory::get("expense");
    QList<MCategory*>* income = MCategory::get("income");
    QVERIFY(execAll({ "insert into tbl_category (id, name, kind, sort) values ('e3', '新', 'expense', 0)",
        "insert into tbl_sub_category (id, category_id, name, kind, sort) values ('s4', 'e2', '公交', 'expense', "
        "1)" }));
    QCOMPARE(MCategory::get("expense"), expense);
    QCOMPARE(ids(*expense), QStringList({ "e1", "e2" }));
    QCOMPARE(ids(*income), QStringList({ "i1", "x1" }));
    QVERIFY(MCategory::getSubCategories("e2")->isEmpty());
    MCategory::clearCache();
    QCOMPARE(ids(*MCategory::get("expense")), QStringList({ "e3", "e1", "e2" }));
    QCOMPARE(ids(*MCategory::getSubCategories("e2")), QStringList({ "s4" }));
}

void TestMCategory::listsByKind_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("expense") << "expense" << QStringList({ "e1", "e2" });
    QTest::newRow("income takes every other kind") << "income" << QStringList({ "i1", "x1" });
    QTest::newRow("empty: all mixed by sort") << "" << QStringList({ "e1", "i1", "e2", "x1" });
    QTest::newRow("unknown: all") << "loan" << QStringList({ "e1", "i1", "e2", "x1" });
}

void TestMCategory::listsByKind()
{
    QFETCH(QString, kind);
    QFETCH(QStringList, expected);
    QCOMPARE(ids(*MCategory::get(kind)), expected);
}

void TestMCategory::subCategoryLists()
{
    MCategory* e1 = MCategory::getById("e1");
    QVERIFY(e1);
    QCOMPARE(ids(e1->getChildren()), QStringList({ "s2", "s1" }));
    QCOMPARE(e1->getChildren().first()->getParent(), e1);
    QCOMPARE(e1->getParent(), nullptr);
    QCOMPARE(ids(*MCategory::getSubCategories("e1")), QStringList({ "s2", "s1" }));
    QCOMPARE(ids(*MCategory::getSubCategories("")), QStringList({ "s2", "s3", "s1" }));
    // The sub-categories are shared between the lists, not copies.
    QCOMPARE(MCategory::getSubCategories("e1")->first(), MCategory::getSubCategoryById("s2"));
    QVERIFY(MCategory::getSubCategories("e2")->isEmpty());
    QVERIFY(MCategory::getSubCategories("nobody")->isEmpty());
    QCOMPARE(MCategory::getSubCategoryById("s1")->getCategoryId(), QString("e1"));
    QVERIFY(!e1->getCategoryId().isNull()); // a top category's parent id is empty, not null
}

void TestMCategory::lookupsStayOnTheirLevel()
{
    QCOMPARE(MCategory::getById("s1"), nullptr);
    QCOMPARE(MCategory::getSubCategoryById("e1"), nullptr);
    QCOMPARE(MCategory::getById(""), nullptr);
    QVERIFY(MCategory::getById("x1"));
}

void TestMCategory::indexAmongSiblings_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("index");
    QTest::newRow("first expense category") << "e1"
                                            << "expense" << 0;
    QTest::newRow("second expense category") << "e2"
                                             << "expense" << 1;
    QTest::newRow("expense category in the income tree") << "e1"
                                                         << "income" << -1;
    QTest::newRow("second child") << "s1"
                                  << "expense" << 1;
    QTest::newRow("child, kind not used") << "s2"
                                          << "income" << 0;
}

void TestMCategory::indexAmongSiblings()
{
    QFETCH(QString, id);
    QFETCH(QString, kind);
    QFETCH(int, index);
    MCategory::get("");
    MCategory* category = MCategory::getById(id) ? MCategory::getById(id) : MCategory::getSubCategoryById(id);
    QVERIFY(category);
    QCOMPARE(MCategory::indexOf(category, kind), index);
}

void TestMCategory::billCountByLevel()
{
    addBillRow("expense", -1, QDate(2024, 1, 1), { { "category_id", "e1" }, { "sub_category_id", "s1" } });
    addBillRow("expense", -1, QDate(2024, 1, 1), { { "category_id", "e2" }, { "sub_category_id", "s1" } });
    addBillRow("expense", -1, QDate(2024, 1, 1), { { "category_id", "e1" } });
    QCOMPARE(MCategory::getBillCount(MCategory::getById("e1")), 2);
    QCOMPARE(MCategory::getBillCount(MCategory::getSubCategoryById("s1")), 2);
    QCOMPARE(MCategory::getBillCount(MCategory::getSubCategoryById("s2")), 0);
}

void TestMCategory::newCategoriesGoAfterTheirSiblings()
{
    MCategory income;
    income.setName("奖金");
    income.setKind("income");
    QVERIFY(MCategory::insert(&income));
    QCOMPARE(income.getSort(), 3); // after 工资 (2), not after the expense categories
    QVERIFY(isGeneratedId(income.getId()));

    MCategory sub;
    sub.setId("05");
    sub.setCategoryId("e1");
    sub.setName("晚餐");
    sub.setKind("expense");
    QVERIFY(MCategory::insert(&sub));
    QCOMPARE(sub.getId(), QString("05"));
    QCOMPARE(ids(*MCategory::getSubCategories("e1")), QStringList({ "s2", "s1", "05" }));
    QCOMPARE(scalar("select sort from tbl_sub_category where id='05'").toInt(), 3);

    MCategory firstChild;
    firstChild.setCategoryId("e2");
    firstChild.setName("地铁");
    firstChild.setKind("expense");
    QVERIFY(MCategory::insert(&firstChild));
    QCOMPARE(firstChild.getSort(), 1);
    QCOMPARE(scalar("select count(*) from tbl_category").toInt(), 5); // the sub-categories went to their own table
}

void TestMCategory::movingASubCategoryTakesItsBills_data()
{
    QTest::addColumn<QString>("billCategory"); // of the sub-category's bill; "" for no bill
    QTest::addColumn<QStringList>("signalList");
    QTest::newRow("with bills") << "e1" << QStringList({ "bill", "bill", "category" });
    QTest::newRow("without bills") << "" << QStringList({ "category" });
    QTest::newRow("bills already there") << "e2" << QStringList({ "category" });
}

void TestMCategory::movingASubCategoryTakesItsBills()
{
    QFETCH(QString, billCategory);
    QFETCH(QStringList, signalList);
    QString billId;
    if (!billCategory.isEmpty()) {
        billId = addBillRow("expense", -9, QDate(2024, 1, 1),
            { { "category_id", billCategory }, { "sub_category_id", "s1" }, { "version", "2007-07-07 07:07:07" } });
    }
    const QString other = addBillRow(
        "expense", -1, QDate(2024, 1, 1), { { "category_id", "e1" }, { "version", "2007-07-07 07:07:07" } });
    MCategory moved = *MCategory::getSubCategoryById("s1");
    moved.setCategoryId("e2");
    NotifierRecorder recorder;
    QVERIFY(MCategory::update(&moved));
    QCOMPARE(recorder.signalList, signalList);
    if (!billId.isEmpty()) {
        QCOMPARE(scalar("select category_id from tbl_bill where id='" + billId + "'").toString(), QString("e2"));
        const bool stamped
            = scalar("select version<>'2007-07-07 07:07:07' from tbl_bill where id='" + billId + "'").toBool();
        QCOMPARE(stamped, billCategory != "e2");
    }
    QCOMPARE(scalar("select category_id||version from tbl_bill where id='" + other + "'").toString(),
        QString("e12007-07-07 07:07:07"));
    MCategory::get("");
    QCOMPARE(ids(MCategory::getById("e2")->getChildren()), QStringList({ "s1" }));
    QCOMPARE(MCategory::getSubCategoryById("s1")->getParent(), MCategory::getById("e2"));
}

void TestMCategory::removingATopCategoryLeavesOrphans()
{
    addBillRow("expense", -1, QDate(2024, 1, 1), { { "category_id", "e1" }, { "sub_category_id", "s1" } });
    NotifierRecorder recorder;
    QVERIFY(MCategory::remove(MCategory::getById("e1")));
    QCOMPARE(recorder.signalList, QStringList({ "category" }));
    QCOMPARE(scalar("select count(*) from tbl_sub_category where category_id='e1'").toInt(), 2);
    QCOMPARE(scalar("select count(*) from tbl_bill where category_id='e1'").toInt(), 1);
    QCOMPARE(ids(*MCategory::get("expense")), QStringList({ "e2" }));
    MCategory* orphan = MCategory::getSubCategoryById("s1");
    QVERIFY(orphan);
    QCOMPARE(orphan->getParent(), nullptr);
    QCOMPARE(MCategory::indexOf(orphan, "expense"), -1);
    QCOMPARE(ids(*MCategory::getSubCategories("e1")), QStringList({ "s2", "s1" }));
}

void TestMCategory::clearCacheEmptiesTheSharedLists()
{
    QList<MCategory*>* all = MCategory::get("");
    QList<MCategory*>* expense = MCategory::get("expense");
    QList<MCategory*>* subs = MCategory::getSubCategories("");
    QList<MCategory*>* ofE1 = MCategory::getSubCategories("e1");
    MCategory* e1 = MCategory::getById("e1");
    MCategory::clearCache();
    QVERIFY(all->isEmpty());
    QVERIFY(expense->isEmpty());
    QVERIFY(subs->isEmpty());
    QCOMPARE(ids(*ofE1), QStringList({ "s2", "s1" })); // a parent's list keeps its records
    QCOMPARE(e1->getName(), QString("餐饮"));
    QVERIFY(MCategory::getById("e1") != e1); // a new load makes new records
}

void TestMCategory::removeClearsAStaleTombstone()
{
    QVERIFY(execAll({ "insert into tbl_sub_category_deleted (id, category_id, name, kind) values ('s3', 'i1', '旧', "
                      "'income')" }));
    QVERIFY(MCategory::remove(MCategory::getSubCategoryById("s3")));
    QCOMPARE(scalar("select count(*) from tbl_sub_category where id='s3'").toInt(), 0);
    QCOMPARE(scalar("select group_concat(name) from tbl_sub_category_deleted").toString(), QString("月薪"));
}

QTEST_GUILESS_MAIN(TestMCategory)
#include "tst_mcategory.moc"
