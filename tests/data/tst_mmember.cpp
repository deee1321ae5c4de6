#include <QTest>

#include "data/mmember.h"
#include "notifierrecorder.h"
#include "testenv.h"

class TestMMember : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void listIsCachedAndOrdered();
    void insertGivesIdAndPlace_data();
    void insertGivesIdAndPlace();
    void billCountLooksAtTheMemberOnly();
    void writesReportAndSignal();
    void removeClearsAStaleTombstone();

private:
    std::unique_ptr<TestEnv> env;
    std::unique_ptr<TestBook> book;
};

void TestMMember::init()
{
    env = std::make_unique<TestEnv>();
    book = std::make_unique<TestBook>(env->dataDir() + "book.db");
    QVERIFY(execAll({ "insert into tbl_member (id, name, description, sort) values ('02', '家人', '我的家人', 2)",
        "insert into tbl_member (id, name, description, sort) values ('01', '自己', '我自己', 1)" }));
}

void TestMMember::cleanup()
{
    book.reset();
    env.reset();
}

void TestMMember::listIsCachedAndOrdered()
{
    QList<MMember*>* list = MMember::get();
    QCOMPARE(list->size(), 2);
    QCOMPARE(list->at(0)->getName(), QString("自己"));
    QCOMPARE(list->at(1)->getDescription(), QString("我的家人"));
    QCOMPARE(MMember::get(), list);
    QCOMPARE(MMember::getById("02"), list->at(1));
    QCOMPARE(MMember::getById(""), nullptr);
    MMember* self = list->at(0);
    QVERIFY(MMember::remove("01"));
    QVERIFY(list->isEmpty());
    QCOMPARE(MMember::indexOf(self), -1);
    QCOMPARE(self->getName(), QString("自己"));
}

void TestMMember::insertGivesIdAndPlace_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<bool>("sortGiven");
    QTest::addColumn<int>("storedSort");
    QTest::newRow("fixed id, sort given") << "05" << true << 5;
    QTest::newRow("null id, no sort") << QString() << false << 3;
    QTest::newRow("empty id, no sort") << "" << false << 3;
}

void TestMMember::insertGivesIdAndPlace()
{
    QFETCH(QString, id);
    QFETCH(bool, sortGiven);
    QFETCH(int, storedSort);
    MMember member;
    member.setId(id);
    member.setName("孩子");
    if (sortGiven)
        member.setSort(storedSort);
    QVERIFY(MMember::insert(&member));
    if (id.isEmpty())
        QVERIFY(isGeneratedId(member.getId()));
    else
        QCOMPARE(member.getId(), id);
    QCOMPARE(MMember::get()->last()->getId(), member.getId());
    QCOMPARE(MMember::get()->last()->getSort(), storedSort);
}

void TestMMember::billCountLooksAtTheMemberOnly()
{
    addBillRow("expense", -1, QDate(2024, 1, 1), { { "member_id", "01" } });
    addBillRow("expense", -1, QDate(2024, 1, 2), { { "member_id", "01" }, { "borrower_id", "02" } });
    addBillRow("expense", -1, QDate(2024, 1, 3), { { "account_id", "01" } });
    QCOMPARE(MMember::getBillCount("01"), 2);
    QCOMPARE(MMember::getBillCount("02"), 0);
}

void TestMMember::writesReportAndSignal()
{
    NotifierRecorder recorder;
    MMember nameless;
    QVERIFY(!MMember::insert(&nameless)); // name is required
    MMember nobody;
    nobody.setId("nobody");
    nobody.setName("无");
    nobody.setSort(1);
    QVERIFY(MMember::update(&nobody));
    QCOMPARE(recorder.signalList, QStringList({ "member", "member" }));
    QCOMPARE(scalar("select count(*) from tbl_member").toInt(), 2);
}

void TestMMember::removeClearsAStaleTombstone()
{
    QVERIFY(execAll({ "insert into tbl_member_deleted (id, name, sort) values ('01', '旧的', 1)" }));
    QVERIFY(MMember::remove("01"));
    QCOMPARE(scalar("select count(*) from tbl_member where id='01'").toInt(), 0);
    QCOMPARE(scalar("select name||'/'||description from tbl_member_deleted").toString(), QString("自己/我自己"));
}

QTEST_GUILESS_MAIN(TestMMember)
#include "tst_mmember.moc"
