// The quick change dialog: the targets it offers per type, the sub-category question, storing
// every bill or none, and the empty choices it refuses.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMap>
#include <QPushButton>
#include <QSqlQuery>
#include <QTest>
#include <memory>

#include "billlistfixture.h"
#include "bills/dquickchange.h"
#include "data/mbill.h"
#include "modalanswerer.h"
#include "testenv.h"
#include "widgettest.h"

namespace {

QComboBox* combo(QWidget& dialog, const char* name)
{
    auto* box = dialog.findChild<QComboBox*>(QLatin1String(name));
    if (!box)
        qFatal("no %s", name);
    return box;
}

void pressOk(QWidget& dialog)
{
    dialog.findChild<QPushButton*>(QStringLiteral("pbOK"))->click();
}

// The loaded bills with these descriptions, in this order.
QList<MBill*> billsNamed(const QStringList& descriptions)
{
    QList<MBill*> found;
    const QList<MBill*> all = *MBill::get(QStringLiteral(" 1=1 "));
    for (const QString& description : descriptions) {
        for (MBill* bill : all) {
            if (bill->getDescription() == description)
                found.append(bill);
        }
    }
    if (found.size() != descriptions.size())
        qFatal("bills missing: %s", qPrintable(descriptions.join(',')));
    return found;
}

// A column of the bills with these descriptions, as stored, in this order.
QStringList stored(const char* column, const QStringList& descriptions)
{
    QStringList values;
    for (const QString& description : descriptions) {
        QSqlQuery query;
        query.prepare(QStringLiteral("select %1 from tbl_bill where description=?").arg(QLatin1String(column)));
        query.addBindValue(description);
        values << ((query.exec() && query.next()) ? query.value(0).toString() : QStringLiteral("<none>"));
    }
    return values;
}

// Every stored field of every bill but the change stamps, by description.
QMap<QString, QStringList> allStored()
{
    QMap<QString, QStringList> rows;
    QSqlQuery query("select description, amount, date, month, kind, category_id, sub_category_id, account_id, "
                    "to_account_id, borrower_id, member_id, title from tbl_bill");
    while (query.next()) {
        QStringList fields;
        for (int i = 1; i < 12; ++i)
            fields << query.value(i).toString();
        rows.insert(query.value(0).toString(), fields);
    }
    return rows;
}

const QStringList Expenses { "e1", "e2", "e3" };

void addBills()
{
    for (const QString& description : Expenses) {
        addBill("expense", -10, QDate(2013, 7, 5),
            { { "category_id", "C1" }, { "sub_category_id", "S1" }, { "account_id", "A1" }, { "member_id", "M1" },
                { "description", description } });
    }
    addBill("income", 100, QDate(2013, 7, 6),
        { { "category_id", "C2" }, { "sub_category_id", "S3" }, { "account_id", "A1" }, { "description", "i1" } });
    addBill("transfer", -50, QDate(2013, 7, 6),
        { { "account_id", "A1" }, { "to_account_id", "A2" }, { "description", "t1" } });
    addBill(
        "lend", -30, QDate(2013, 7, 7), { { "account_id", "A1" }, { "borrower_id", "B1" }, { "description", "l1" } });
    addBill(
        "repay", -20, QDate(2013, 7, 7), { { "account_id", "A1" }, { "borrower_id", "B1" }, { "description", "r1" } });
}

// An expense category placed before 餐饮 that has no sub-category yet.
void addBareCategoryFirst()
{
    execAll({ "insert into tbl_category (id, name, kind, sort) values ('C0', '交通', 'expense', 0)" });
    TestBook::resetRecordCaches();
}

const QString NoSubTitle = QStringLiteral("确定新建?");
const QString NoSubText = QStringLiteral("当前大分类下没有小分类，你是否需要添加小分类?");

} // namespace

class TestDQuickChange : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void offersTheTargetsOfItsType_data();
    void offersTheTargetsOfItsType();
    void categoryWithoutSubCategoryAsksBeforeShowing();
    void yesCreatesTheSubCategoryAndListsIt();
    void changesEveryBillAndNothingElse_data();
    void changesEveryBillAndNothingElse();
    void emptyChoiceIsRefused_data();
    void emptyChoiceIsRefused();
    void failedStoreChangesNoBill();
    void closingChangesNothing();

private:
    std::unique_ptr<TestEnv> env;
    std::unique_ptr<TestBook> book;
};

void TestDQuickChange::init()
{
    env = std::make_unique<TestEnv>();
    book = std::make_unique<TestBook>(env->dataDir() + "book.db");
    QVERIFY(book->isOpen());
    addReferences();
    addBills();
}

void TestDQuickChange::cleanup()
{
    book.reset();
    env.reset();
}

void TestDQuickChange::offersTheTargetsOfItsType_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QStringList>("bills");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QStringList>("targets");
    QTest::addColumn<QStringList>("subCategories");

    QTest::newRow("account") << "account" << QStringList { "e1", "t1" } << "账户" << QStringList { "现金", "银行卡" }
                             << QStringList();
    QTest::newRow("member") << "member" << Expenses << "成员" << QStringList { "自己", "家人" } << QStringList();
    QTest::newRow("borrower") << "borrower" << QStringList { "l1", "r1" } << "借款人" << QStringList { "小王", "老李" }
                              << QStringList();
    QTest::newRow("category of expenses")
        << "category" << Expenses << "大类" << QStringList { "餐饮" } << QStringList { "早餐", "午餐" };
    QTest::newRow("category of incomes") << "category" << QStringList { "i1" } << "大类" << QStringList { "工资" }
                                         << QStringList { "月薪" };
}

void TestDQuickChange::offersTheTargetsOfItsType()
{
    QFETCH(QString, type);
    QFETCH(QStringList, bills);
    QFETCH(QString, label);
    QFETCH(QStringList, targets);
    QFETCH(QStringList, subCategories);

    DQuickChange dialog(type, billsNamed(bills), nullptr);
    QCOMPARE(ModalAnswerer::titleOf(&dialog), QString("批量快捷操作"));
    QCOMPARE(dialog.findChild<QLabel*>("label")->text(), label);
    QCOMPARE(WidgetTest::itemTexts(combo(dialog, "comboBox")), targets);
    dialog.show();
    QCOMPARE(combo(dialog, "comboBox2")->isVisible(), type == "category");
    QCOMPARE(dialog.findChild<QLabel*>("label2")->isVisible(), type == "category");
    QCOMPARE(WidgetTest::itemTexts(combo(dialog, "comboBox2")), subCategories);
}

void TestDQuickChange::categoryWithoutSubCategoryAsksBeforeShowing()
{
    addBareCategoryFirst();
    bool shownWhenAsked = true;
    ModalAnswerer boxes;
    boxes.expect(
        ModalAnswerer::box(NoSubTitle, NoSubText),
        [&](QWidget* box) {
            shownWhenAsked = box->parentWidget() && box->parentWidget()->isVisible();
            ModalAnswerer::press("否")(box);
        },
        "no sub-category → 否");
    DQuickChange dialog("category", billsNamed(Expenses), nullptr);
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QVERIFY(!shownWhenAsked);
    QCOMPARE(WidgetTest::itemTexts(combo(dialog, "comboBox")), (QStringList { "交通", "餐饮" }));
    QCOMPARE(combo(dialog, "comboBox2")->count(), 0);

    dialog.show();
    boxes.expect("错误", "请选择一个小类", "确定");
    pressOk(dialog);
    QVERIFY2(boxes.waitAnswered(), qPrintable(boxes.report()));
    QVERIFY(dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QCOMPARE(stored("category_id", Expenses), QStringList(3, "C1"));

    // A category that has sub-categories asks nothing and lists them.
    combo(dialog, "comboBox")->setCurrentIndex(1);
    QCOMPARE(WidgetTest::itemTexts(combo(dialog, "comboBox2")), (QStringList { "早餐", "午餐" }));
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
}

void TestDQuickChange::yesCreatesTheSubCategoryAndListsIt()
{
    addBareCategoryFirst();
    ModalAnswerer boxes;
    boxes.expect(NoSubTitle, NoSubText, "是");
    boxes.expect(
        ModalAnswerer::ofClass("DCategory"),
        [](QWidget* dialog) {
            dialog->findChild<QLineEdit*>("leName")->setText("地铁");
            dialog->findChild<QPushButton*>("pbOK")->click();
        },
        "new sub-category 地铁");
    DQuickChange dialog("category", billsNamed(Expenses), nullptr);
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QCOMPARE(WidgetTest::itemTexts(combo(dialog, "comboBox2")), QStringList { "地铁" });
    QCOMPARE(scalar("select category_id from tbl_sub_category where name='地铁'").toString(), QString("C0"));

    pressOk(dialog);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(stored("category_id", Expenses), QStringList(3, "C0"));
}

void TestDQuickChange::changesEveryBillAndNothingElse_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QStringList>("bills");
    QTest::addColumn<int>("target");
    // Fields of allStored() and the value each chosen bill has there afterwards.
    QTest::addColumn<QList<int>>("fields");
    QTest::addColumn<QStringList>("values");

    QTest::newRow("account, also of a transfer")
        << "account" << QStringList { "e1", "t1", "l1" } << 1 << QList<int> { 6 } << QStringList { "A2" };
    QTest::newRow("member") << "member" << Expenses << 1 << QList<int> { 9 } << QStringList { "M2" };
    QTest::newRow("borrower") << "borrower" << QStringList { "l1", "r1" } << 1 << QList<int> { 8 }
                              << QStringList { "B2" };
    QTest::newRow("category and sub-category")
        << "category" << QStringList { "e3", "e1" } << 0 << QList<int> { 4, 5 } << QStringList { "C1", "S2" };
}

void TestDQuickChange::changesEveryBillAndNothingElse()
{
    QFETCH(QString, type);
    QFETCH(QStringList, bills);
    QFETCH(int, target);
    QFETCH(QList<int>, fields);
    QFETCH(QStringList, values);

    QMap<QString, QStringList> expected = allStored();
    for (const QString& bill : bills) {
        for (int i = 0; i < fields.size(); ++i)
            expected[bill][fields.at(i)] = values.at(i);
    }
    const QList<MBill*> chosen = billsNamed(bills);
    DQuickChange dialog(type, chosen, nullptr);
    combo(dialog, "comboBox")->setCurrentIndex(target);
    if (type == "category")
        combo(dialog, "comboBox2")->setCurrentIndex(1);
    pressOk(dialog);

    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(allStored(), expected);
    // The records the bill list holds show the change too.
    for (const MBill* bill : chosen) {
        const QStringList ids { bill->getCategoryId(), bill->getSubCategoryId(), bill->getAccountId(),
            bill->getToAccountId(), bill->getBorrowerId(), bill->getMemberId() };
        QCOMPARE(ids, expected.value(bill->getDescription()).mid(4, 6));
    }
}

void TestDQuickChange::emptyChoiceIsRefused_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QStringList>("bills");
    QTest::addColumn<QString>("emptied");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("column");

    QTest::newRow("no member") << "member" << Expenses << "delete from tbl_member"
                               << "请选择一个成员"
                               << "member_id";
    QTest::newRow("no borrower") << "borrower" << QStringList { "l1" } << "delete from tbl_borrower"
                                 << "请选择一个借款人"
                                 << "borrower_id";
    QTest::newRow("no account") << "account" << Expenses << "delete from tbl_account"
                                << "请选择一个账户"
                                << "account_id";
    QTest::newRow("no category of the kind")
        << "category" << QStringList { "i1" } << "delete from tbl_category where kind='income'"
        << "请选择一个大类"
        << "category_id";
    QTest::newRow("mixed kinds") << "category" << QStringList { "e1", "i1" } << ""
                                 << "请选择一个大类"
                                 << "category_id";
}

void TestDQuickChange::emptyChoiceIsRefused()
{
    QFETCH(QString, type);
    QFETCH(QStringList, bills);
    QFETCH(QString, emptied);
    QFETCH(QString, message);
    QFETCH(QString, column);
    if (!emptied.isEmpty())
        QVERIFY(execAll({ emptied }));
    TestBook::resetRecordCaches();
    const QStringList before = stored(column.toLatin1().constData(), bills);

    DQuickChange dialog(type, billsNamed(bills), nullptr);
    QCOMPARE(combo(dialog, "comboBox")->count(), 0);
    dialog.show();
    ModalAnswerer boxes;
    boxes.expect("错误", message, "确定");
    pressOk(dialog);
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QVERIFY(dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QCOMPARE(stored(column.toLatin1().constData(), bills), before);
}

void TestDQuickChange::failedStoreChangesNoBill()
{
    QVERIFY(execAll({ "create trigger refuse_e3 before update on tbl_bill when old.description='e3' "
                      "begin select raise(abort, 'disk full'); end" }));
    const QList<MBill*> bills = billsNamed(Expenses);
    DQuickChange dialog("account", bills, nullptr);
    combo(dialog, "comboBox")->setCurrentIndex(1);
    dialog.show();

    ModalAnswerer boxes;
    boxes.expect("错误", "账目没有保存成功，请稍后再试。", "确定");
    pressOk(dialog);
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QVERIFY(dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QCOMPARE(stored("account_id", Expenses), QStringList(3, "A1"));
    for (const MBill* bill : bills)
        QCOMPARE(bill->getAccountId(), QString("A1"));
}

void TestDQuickChange::closingChangesNothing()
{
    DQuickChange dialog("account", billsNamed(Expenses), nullptr);
    combo(dialog, "comboBox")->setCurrentIndex(1);
    ModalAnswerer boxes;
    boxes.expect(ModalAnswerer::ofClass("DQuickChange"), ModalAnswerer::closeStrip(), "closed by its strip");
    QCOMPARE(dialog.exec(), int(QDialog::Rejected));
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QCOMPARE(stored("account_id", Expenses), QStringList(3, "A1"));
}

QTEST_MAIN(TestDQuickChange)
#include "tst_dquickchange.moc"
