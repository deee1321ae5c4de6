// The bill dialog: kinds and their rows, what a save stores, edit, copy, continue, the keys,
// bills whose records were deleted, prompts for missing records, failed stores.
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QDateEdit>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTest>
#include <QTextEdit>
#include <QToolButton>
#include <memory>

#include "bills/dbill.h"
#include "bills/dcalculator.h"
#include "data/filesetting.h"
#include "data/mbill.h"
#include "data/settingkeys.h"
#include "modalanswerer.h"
#include "testenv.h"
#include "widgettest.h"

namespace {
// Two accounts, two expense categories (two sub-categories under the first, one under the second), an
// income category, two borrowers and two members, each list ordered as its ids.
const QStringList FixtureRows {
    "insert into tbl_account (id,name,kind,amount,description,sort) values ('a1','现金','cash',0,'',1)",
    "insert into tbl_account (id,name,kind,amount,description,sort) values ('a2','银行卡','card',0,'',2)",
    "insert into tbl_category (id,name,kind,description,sort) values ('c1','餐饮','expense','',1)",
    "insert into tbl_category (id,name,kind,description,sort) values ('c2','交通','expense','',2)",
    "insert into tbl_category (id,name,kind,description,sort) values ('i1','工资','income','',1)",
    "insert into tbl_sub_category (id,category_id,name,kind,description,sort) values ('s1','c1','早餐','expense','',1)",
    "insert into tbl_sub_category (id,category_id,name,kind,description,sort) values ('s2','c1','午餐','expense','',2)",
    "insert into tbl_sub_category (id,category_id,name,kind,description,sort) values ('s3','c2','公交','expense','',1)",
    "insert into tbl_sub_category (id,category_id,name,kind,description,sort) values ('s4','i1','月薪','income','',1)",
    "insert into tbl_borrower (id,name,description,sort) values ('b1','老王','',1)",
    "insert into tbl_borrower (id,name,description,sort) values ('b2','老李','',2)",
    "insert into tbl_member (id,name,description,sort) values ('m1','自己','',1)",
    "insert into tbl_member (id,name,description,sort) values ('m2','家人','',2)",
};

template <typename T> T* child(QWidget* dialog, const QString& name)
{
    auto* widget = dialog->findChild<T*>(name);
    if (!widget)
        qFatal("no %s in the dialog", qPrintable(name));
    return widget;
}

QComboBox* combo(QWidget* dialog, const QString& name)
{
    return child<QComboBox>(dialog, name);
}

void click(QWidget* dialog, const QString& name)
{
    child<QAbstractButton>(dialog, name)->click();
}

int billCount()
{
    return scalar("select count(*) from tbl_bill").toInt();
}

// The columns of the only bill (or of the bill with id), by name.
QVariantMap storedBill(const QString& id = QString())
{
    QSqlQuery query;
    query.prepare("select id,amount,month,kind,account_id,to_account_id,category_id,sub_category_id,borrower_id,"
                  "member_id,title,description,date from tbl_bill"
        + QString(id.isEmpty() ? "" : " where id = ?"));
    if (!id.isEmpty())
        query.addBindValue(id);
    QVariantMap row;
    if (query.exec() && query.next())
        for (int i = 0; i < query.record().count(); ++i)
            row.insert(query.record().fieldName(i), query.value(i));
    return row;
}

// The bill object the bill list would hand to the dialog.
MBill* loadedBill(const QString& id)
{
    for (MBill* bill : *MBill::get(" 1=1 "))
        if (bill->getId() == id)
            return bill;
    qFatal("bill %s not loaded", qPrintable(id));
}

// Answers a create dialog by typing a name and pressing OK.
ModalAnswerer::Answer createNamed(const QString& name)
{
    return [name](QWidget* dialog) {
        dialog->findChild<QLineEdit*>("leName")->setText(name);
        dialog->findChild<QPushButton*>("pbOK")->click();
    };
}

const QString NoSubCategoryTitle = QStringLiteral("确定新建?");
const QString NoSubCategoryText = QStringLiteral("当前大分类下没有小分类，你是否需要添加小分类?");
}

class TestDBill : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void kinds_data();
    void kinds();
    void month_data();
    void month();
    void editChangesKind_data();
    void editChangesKind();
    void editShowsTheBill();
    void saveWithoutEditsKeepsTheBill_data();
    void saveWithoutEditsKeepsTheBill();
    void dateThatNamesNoDay();
    void copyFillsANewBill();
    void continueThenCancel();
    void keys_data();
    void keys();
    void continueBoxKeepsItsSetting();
    void deletedRecordIsNotReplaced_data();
    void deletedRecordIsNotReplaced();
    void deletedMemberWithTheRowHidden();
    void memberRow_data();
    void memberRow();
    void titleRow_data();
    void titleRow();
    void emptyBook_data();
    void emptyBook();
    void incomeCategoryShownWhenItsSubCategoryIsCancelled();
    void subCategoryQuestion_data();
    void subCategoryQuestion();
    void transferNeedsTwoAccounts();
    void loanNeedsABorrower();
    void createButtons_data();
    void createButtons();
    void failedStoreKeepsTheDialogOpen_data();
    void failedStoreKeepsTheDialogOpen();
    void calculatorFillsTheAmount();
    void buttonsStayAboveTheFooter_data();
    void buttonsStayAboveTheFooter();

private:
    std::unique_ptr<TestEnv> env;
    std::unique_ptr<TestBook> book;
};

void TestDBill::init()
{
    // A slot that lost its object name would silently do nothing.
    QTest::failOnWarning(QRegularExpression("connectSlotsByName"));
    env = std::make_unique<TestEnv>();
    book = std::make_unique<TestBook>(env->dataDir() + "book.db");
    QVERIFY(book->isOpen());
    QVERIFY(execAll(FixtureRows));
}

void TestDBill::cleanup()
{
    book.reset();
    env.reset();
}

void TestDBill::kinds_data()
{
    QTest::addColumn<QString>("radio");
    QTest::addColumn<int>("loanKind");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<double>("amount");
    QTest::addColumn<QVariantMap>("ids");

    const QVariantMap none { { "category_id", "" }, { "sub_category_id", "" }, { "member_id", "" },
        { "to_account_id", "" }, { "borrower_id", "" }, { "account_id", "a1" } };
    auto with = [none](const QVariantMap& changes) {
        QVariantMap ids = none;
        for (auto it = changes.begin(); it != changes.end(); ++it)
            ids.insert(it.key(), it.value());
        return ids;
    };
    const QVariantMap loan = with({ { "borrower_id", "b1" } });

    QTest::newRow("expense") << "rbExpense" << -1 << "expense" << -12.5
                             << with({ { "category_id", "c1" }, { "sub_category_id", "s1" }, { "member_id", "m1" } });
    QTest::newRow("income") << "rbIncome" << -1 << "income" << 12.5
                            << with({ { "category_id", "i1" }, { "sub_category_id", "s4" }, { "member_id", "m1" } });
    QTest::newRow("transfer") << "rbTransfer" << -1 << "transfer" << -12.5 << with({ { "to_account_id", "a2" } });
    QTest::newRow("lend") << "rbLoan" << 0 << "lend" << -12.5 << loan;
    QTest::newRow("borrow") << "rbLoan" << 1 << "borrow" << 12.5 << loan;
    QTest::newRow("refund") << "rbLoan" << 2 << "refund" << 12.5 << loan;
    QTest::newRow("repay") << "rbLoan" << 3 << "repay" << -12.5 << loan;
}

void TestDBill::kinds()
{
    QFETCH(QString, radio);
    QFETCH(int, loanKind);
    QFETCH(QString, kind);
    QFETCH(double, amount);
    QFETCH(QVariantMap, ids);

    ModalAnswerer boxes;
    DBill dialog(nullptr);
    dialog.show();
    click(&dialog, radio);
    if (loanKind >= 0)
        combo(&dialog, "cbLoanKind")->setCurrentIndex(loanKind);
    if (kind == "transfer")
        combo(&dialog, "cbToAccount")->setCurrentIndex(1);

    // The rows that belong to the kind, and only those.
    const bool categories = kind == "expense" || kind == "income";
    const bool loan = loanKind >= 0;
    const QHash<QString, bool> shown { { "lblLoan", loan }, { "cbLoanKind", loan }, { "lblCategory", categories },
        { "cbCategory", categories }, { "cbSubCategory", categories }, { "pbCreateCategory", categories },
        { "pbCreateSubCategory", categories }, { "lblToAccount", kind == "transfer" },
        { "cbToAccount", kind == "transfer" }, { "lblBorrower", loan }, { "cbBorrower", loan },
        { "pbCreateBorrower", loan }, { "lblMember", categories }, { "cbMember", categories },
        { "pbCreateMember", categories }, { "cbAccount", true }, { "pbCreateAccount", true }, { "deDate", true },
        { "dsbAmount", true } };
    for (auto it = shown.begin(); it != shown.end(); ++it)
        QVERIFY2(child<QWidget>(&dialog, it.key())->isVisibleTo(&dialog) == it.value(), qPrintable(it.key()));

    child<QDoubleSpinBox>(&dialog, "dsbAmount")->setValue(12.5);
    child<QDateEdit>(&dialog, "deDate")->setDate(QDate(2013, 7, 5));
    click(&dialog, "pbOk");
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QVERIFY(!dialog.isVisible());

    const QVariantMap row = storedBill();
    QCOMPARE(billCount(), 1);
    QCOMPARE(row.value("amount").toDouble(), amount);
    QCOMPARE(row.value("kind").toString(), kind);
    QCOMPARE(row.value("month").toInt(), 201307);
    QCOMPARE(row.value("date").toString(), QString("2013-07-05"));
    for (auto it = ids.begin(); it != ids.end(); ++it) {
        QVERIFY2(!row.value(it.key()).isNull(), qPrintable(it.key() + " stored as NULL"));
        QCOMPARE(row.value(it.key()).toString(), it.value().toString());
    }
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
}

void TestDBill::month_data()
{
    QTest::addColumn<QDate>("date");
    QTest::addColumn<int>("month");
    QTest::newRow("mid-year") << QDate(2013, 7, 5) << 201307;
    QTest::newRow("new year's eve") << QDate(2013, 12, 31) << 201312;
    QTest::newRow("new year's day") << QDate(2014, 1, 1) << 201401;
}

void TestDBill::month()
{
    QFETCH(QDate, date);
    QFETCH(int, month);

    ModalAnswerer boxes;
    DBill dialog(date, nullptr);
    QCOMPARE(child<QDateEdit>(&dialog, "deDate")->date(), date);
    click(&dialog, "pbOk");
    QCOMPARE(storedBill().value("month").toInt(), month);
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
}

void TestDBill::editChangesKind_data()
{
    QTest::addColumn<QString>("fromKind");
    QTest::addColumn<QVariantMap>("columns");
    QTest::addColumn<QString>("radio");
    QTest::addColumn<QVariantMap>("stored");

    QTest::newRow("expense into transfer")
        << "expense"
        << QVariantMap { { "account_id", "a1" }, { "category_id", "c2" }, { "sub_category_id", "s3" },
               { "member_id", "m2" } }
        << "rbTransfer"
        << QVariantMap { { "kind", "transfer" }, { "category_id", "" }, { "sub_category_id", "" }, { "member_id", "" },
               { "to_account_id", "a1" }, { "amount", -8.0 } };
    QTest::newRow("transfer into income")
        << "transfer" << QVariantMap { { "account_id", "a1" }, { "to_account_id", "a2" } } << "rbIncome"
        << QVariantMap { { "kind", "income" }, { "to_account_id", "" }, { "category_id", "i1" },
               { "sub_category_id", "s4" }, { "member_id", "m1" }, { "amount", 8.0 } };
}

void TestDBill::editChangesKind()
{
    QFETCH(QString, fromKind);
    QFETCH(QVariantMap, columns);
    QFETCH(QString, radio);
    QFETCH(QVariantMap, stored);

    const QString id = addBillRow(fromKind, -8, QDate(2013, 7, 5), columns);
    MBill* bill = loadedBill(id);
    ModalAnswerer boxes;
    DBill dialog(bill, nullptr);
    click(&dialog, radio);
    click(&dialog, "pbOk");
    QCOMPARE(dialog.result(), int(QDialog::Accepted));

    QCOMPARE(billCount(), 1);
    const QVariantMap row = storedBill(id);
    for (auto it = stored.begin(); it != stored.end(); ++it)
        QCOMPARE(row.value(it.key()).toString(), it.value().toString());
    // The bill list's own object shows what was stored.
    QCOMPARE(bill->getId(), id);
    QCOMPARE(bill->getKind(), stored.value("kind").toString());
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
}

void TestDBill::editShowsTheBill()
{
    const QString repay = addBillRow("repay", -30, QDate(2013, 7, 5),
        { { "account_id", "a2" }, { "borrower_id", "b2" }, { "title", "还钱" }, { "description", "第一\n第二" } });
    const QString expense = addBillRow("expense", -4.5, QDate(2013, 6, 1),
        { { "account_id", "a2" }, { "category_id", "c1" }, { "sub_category_id", "s2" }, { "member_id", "m2" } });

    ModalAnswerer boxes;
    DBill loan(loadedBill(repay), nullptr);
    QVERIFY(child<QRadioButton>(&loan, "rbLoan")->isChecked());
    QCOMPARE(combo(&loan, "cbLoanKind")->currentText(), QString("还款"));
    QCOMPARE(combo(&loan, "cbBorrower")->currentData().toString(), QString("b2"));
    QCOMPARE(combo(&loan, "cbAccount")->currentData().toString(), QString("a2"));
    QCOMPARE(child<QDoubleSpinBox>(&loan, "dsbAmount")->value(), 30.0);
    QCOMPARE(child<QDateEdit>(&loan, "deDate")->date(), QDate(2013, 7, 5));
    QCOMPARE(child<QLineEdit>(&loan, "leTitle")->text(), QString("还钱"));
    QCOMPARE(child<QTextEdit>(&loan, "teDescription")->toPlainText(), QString("第一\n第二"));
    QVERIFY(!child<QWidget>(&loan, "pbContinue")->isVisibleTo(&loan));
    QVERIFY(!child<QWidget>(&loan, "cbContinue")->isVisibleTo(&loan));

    DBill other(loadedBill(expense), nullptr);
    QVERIFY(child<QRadioButton>(&other, "rbExpense")->isChecked());
    QCOMPARE(combo(&other, "cbCategory")->currentData().toString(), QString("c1"));
    QCOMPARE(combo(&other, "cbSubCategory")->currentData().toString(), QString("s2"));
    QCOMPARE(combo(&other, "cbMember")->currentData().toString(), QString("m2"));
    QCOMPARE(child<QDoubleSpinBox>(&other, "dsbAmount")->value(), 4.5);
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
}

void TestDBill::saveWithoutEditsKeepsTheBill_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QVariantMap>("columns");
    const QVariantMap expense { { "account_id", "a1" }, { "category_id", "c1" }, { "sub_category_id", "s1" },
        { "member_id", "m1" }, { "to_account_id", "" }, { "borrower_id", "" } };
    const auto with = [&expense](const QVariantMap& more) {
        QVariantMap columns = expense;
        columns.insert(more);
        return columns;
    };
    QTest::newRow("three decimals") << "expense" << with({ { "amount", -12.345 } });
    QTest::newRow("a half cent") << "expense" << with({ { "amount", -1.005 } });
    QTest::newRow("an income stored negative")
        << "income"
        << QVariantMap { { "account_id", "a1" }, { "category_id", "i1" }, { "sub_category_id", "s4" },
               { "member_id", "m1" }, { "amount", -5.0 } };
    QTest::newRow("records the kind does not use")
        << "expense" << with({ { "to_account_id", QVariant() }, { "borrower_id", QVariant() } });
    QTest::newRow("CR LF in the note") << "expense" << with({ { "description", "一\r\n二\r\n" } });
    QTest::newRow("line and paragraph separators")
        << "expense" << with({ { "description", QString::fromUtf8("一\u2028二\u2029三") } });
    QTest::newRow("non-breaking spaces") << "expense"
                                         << with({ { "description", QString::fromUtf8("一\u00a0二") },
                                                { "title", QString::fromUtf8("午\u00a0饭") } });
    QTest::newRow("CR LF in the title") << "expense" << with({ { "title", "早\r\n饭" } });
    QTest::newRow("no title") << "expense" << with({ { "title", QVariant() } });
}

void TestDBill::saveWithoutEditsKeepsTheBill()
{
    QFETCH(QString, kind);
    QFETCH(QVariantMap, columns);
    const QString id = addBillRow(kind, columns.value("amount", -3.0).toDouble(), QDate(2013, 7, 5), columns);
    const QVariantMap before = storedBill(id);

    ModalAnswerer boxes;
    DBill dialog(loadedBill(id), nullptr);
    click(&dialog, "pbOk");
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    const QVariantMap after = storedBill(id);
    for (auto it = before.begin(); it != before.end(); ++it) {
        const QVariant stored = after.value(it.key());
        QVERIFY2(stored == it.value() && stored.isNull() == it.value().isNull(), qPrintable(it.key()));
    }
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
}

void TestDBill::dateThatNamesNoDay()
{
    const QString id = addBillRow("expense", -3, QDate(2024, 2, 1),
        { { "date", "2024-02-30" }, { "account_id", "a1" }, { "category_id", "c1" }, { "sub_category_id", "s1" },
            { "member_id", "m1" } });

    // The user is told, and the form shows the nearest day, marked.
    ModalAnswerer boxes;
    boxes.expect(QStringLiteral("日期有误"), QString(), QStringLiteral("确定"));
    DBill dialog(loadedBill(id), nullptr);
    dialog.show();
    QVERIFY2(boxes.waitAnswered(), qPrintable(boxes.report()));
    auto* date = child<QDateEdit>(&dialog, "deDate");
    QCOMPARE(date->date(), QDate(2024, 2, 29));
    QVERIFY(date->toolTip().contains("2024-02-30"));

    // Another field changes; the date stays as it was stored.
    child<QDoubleSpinBox>(&dialog, "dsbAmount")->setValue(7);
    click(&dialog, "pbOk");
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(storedBill(id).value("date").toString(), QString("2024-02-30"));
    QCOMPARE(storedBill(id).value("month").toInt(), 202402);
    QCOMPARE(storedBill(id).value("amount").toDouble(), -7.0);

    // A day picked by the user is stored.
    DBill again(loadedBill(id), nullptr);
    child<QDateEdit>(&again, "deDate")->setDate(QDate(2024, 3, 1));
    QVERIFY(child<QDateEdit>(&again, "deDate")->toolTip().isEmpty());
    click(&again, "pbOk");
    QCOMPARE(storedBill(id).value("date").toString(), QString("2024-03-01"));
    QCOMPARE(storedBill(id).value("month").toInt(), 202403);
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
}

void TestDBill::copyFillsANewBill()
{
    const QString id = addBillRow("expense", -18, QDate::currentDate().addMonths(-1),
        { { "account_id", "a2" }, { "category_id", "c2" }, { "sub_category_id", "s3" }, { "member_id", "m2" },
            { "title", "地铁" }, { "description", "月票" } });
    std::unique_ptr<MBill> copy(loadedBill(id)->clone());

    ModalAnswerer boxes;
    DBill dialog(copy.get(), nullptr);
    QVERIFY(child<QWidget>(&dialog, "pbContinue")->isVisibleTo(&dialog));
    QCOMPARE(child<QDateEdit>(&dialog, "deDate")->date(), QDate::currentDate());
    QCOMPARE(combo(&dialog, "cbSubCategory")->currentData().toString(), QString("s3"));
    QCOMPARE(combo(&dialog, "cbAccount")->currentData().toString(), QString("a2"));
    click(&dialog, "pbOk");

    QCOMPARE(billCount(), 2);
    const QString copied = scalar("select id from tbl_bill where id <> '" + id + "'").toString();
    const QVariantMap row = storedBill(copied);
    QCOMPARE(row.value("amount").toDouble(), -18.0);
    QCOMPARE(row.value("member_id").toString(), QString("m2"));
    QCOMPARE(row.value("title").toString(), QString("地铁"));
    QCOMPARE(row.value("description").toString(), QString("月票"));
    QCOMPARE(row.value("date").toDate(), QDate::currentDate());
    QCOMPARE(storedBill(id).value("date").toDate(), QDate::currentDate().addMonths(-1));
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
}

void TestDBill::continueThenCancel()
{
    ModalAnswerer boxes;
    DBill dialog(nullptr);
    dialog.show();
    combo(&dialog, "cbCategory")->setCurrentIndex(1);
    auto* amount = child<QDoubleSpinBox>(&dialog, "dsbAmount");
    auto* title = child<QLineEdit>(&dialog, "leTitle");
    auto* description = child<QTextEdit>(&dialog, "teDescription");
    child<QDateEdit>(&dialog, "deDate")->setDate(QDate(2013, 7, 5));

    amount->setValue(30);
    title->setText("午饭");
    description->setPlainText("和同事");
    click(&dialog, "pbContinue");
    QCOMPARE(billCount(), 1);
    QVERIFY(dialog.isVisible());
    QCOMPARE(amount->value(), 0.0);
    QVERIFY(title->text().isEmpty());
    QVERIFY(description->toPlainText().isEmpty());
    QCOMPARE(child<QDateEdit>(&dialog, "deDate")->date(), QDate(2013, 7, 5));
    QCOMPARE(combo(&dialog, "cbCategory")->currentData().toString(), QString("c2"));

    amount->setValue(12);
    click(&dialog, "pbContinue");
    click(&dialog, "pbCancel");
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QCOMPARE(billCount(), 2);
    QCOMPARE(scalar("select sum(amount) from tbl_bill where category_id = 'c2' and sub_category_id = 's3'").toDouble(),
        -42.0);
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
}

void TestDBill::keys_data()
{
    QTest::addColumn<bool>("edit");
    QTest::addColumn<bool>("continueOn");
    QTest::addColumn<int>("key");
    QTest::addColumn<double>("stored");
    QTest::addColumn<bool>("open");
    QTest::addColumn<int>("result");

    const int enter = Qt::Key_Enter;
    QTest::newRow("keypad Enter continues when the box is checked") << false << true << enter << -5.0 << true << 0;
    QTest::newRow("keypad Enter saves and closes otherwise") << false << false << enter << -5.0 << false << 1;
    QTest::newRow("keypad Enter in edit mode saves and closes") << true << true << enter << -5.0 << false << 1;
    QTest::newRow("Return saves nothing") << false << false << int(Qt::Key_Return) << 0.0 << true << 0;
    QTest::newRow("Escape cancels") << false << true << int(Qt::Key_Escape) << 0.0 << false << 0;
}

void TestDBill::keys()
{
    QFETCH(bool, edit);
    QFETCH(bool, continueOn);
    QFETCH(int, key);
    QFETCH(double, stored);
    QFETCH(bool, open);
    QFETCH(int, result);

    FileSetting::getInstance()->setValue(SettingKeys::EnableBillEnterContinue, continueOn);
    const QString id = edit ? addBillRow("expense", -1, QDate(2013, 7, 5),
                           { { "account_id", "a1" }, { "category_id", "c1" }, { "sub_category_id", "s1" } })
                            : QString();
    ModalAnswerer boxes;
    std::unique_ptr<DBill> dialog
        = edit ? std::make_unique<DBill>(loadedBill(id), nullptr) : std::make_unique<DBill>(nullptr);
    dialog->show();
    auto* amount = child<QDoubleSpinBox>(dialog.get(), "dsbAmount");
    amount->setValue(5);
    QTest::keyClick(amount, Qt::Key(key), key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);

    QCOMPARE(scalar("select coalesce(sum(amount), 0) from tbl_bill").toDouble(), stored);
    QCOMPARE(billCount(), edit || stored != 0 ? 1 : 0);
    QCOMPARE(dialog->isVisible(), open);
    if (!open)
        QCOMPARE(dialog->result(), result);
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
}

void TestDBill::continueBoxKeepsItsSetting()
{
    ModalAnswerer boxes;
    {
        DBill dialog(nullptr);
        QVERIFY(!child<QCheckBox>(&dialog, "cbContinue")->isChecked());
        click(&dialog, "cbContinue");
    }
    QCOMPARE(FileSetting::getInstance()->value(SettingKeys::EnableBillEnterContinue).toBool(), true);
    DBill next(nullptr);
    QVERIFY(child<QCheckBox>(&next, "cbContinue")->isChecked());
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
}

void TestDBill::deletedRecordIsNotReplaced_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("column");
    QTest::addColumn<QString>("list");
    QTest::addColumn<QString>("text");

    QTest::newRow("account") << "expense"
                             << "account_id"
                             << "cbAccount"
                             << "请选择所属账户";
    QTest::newRow("category") << "expense"
                              << "category_id"
                              << "cbCategory"
                              << "请选择账目分类";
    QTest::newRow("sub-category") << "expense"
                                  << "sub_category_id"
                                  << "cbSubCategory"
                                  << "请选择账目小类";
    QTest::newRow("member") << "income"
                            << "member_id"
                            << "cbMember"
                            << "请选择成员";
    QTest::newRow("to-account") << "transfer"
                                << "to_account_id"
                                << "cbToAccount"
                                << "请选择转入账户";
    QTest::newRow("borrower") << "refund"
                              << "borrower_id"
                              << "cbBorrower"
                              << "请选择借款人";
}

void TestDBill::deletedRecordIsNotReplaced()
{
    QFETCH(QString, kind);
    QFETCH(QString, column);
    QFETCH(QString, list);
    QFETCH(QString, text);

    QVariantMap columns { { "account_id", "a2" } };
    if (kind == "expense" || kind == "income")
        columns.insert({ { "category_id", kind == "expense" ? "c1" : "i1" },
            { "sub_category_id", kind == "expense" ? "s2" : "s4" }, { "member_id", "m2" } });
    else if (kind == "transfer")
        columns.insert("to_account_id", "a1");
    else
        columns.insert("borrower_id", "b2");
    columns.insert(column, "deleted");
    const QString id = addBillRow(kind, 9, QDate(2013, 7, 5), columns);

    ModalAnswerer boxes;
    boxes.expect("错误", text, "确定");
    DBill dialog(loadedBill(id), nullptr);
    dialog.show();
    QCOMPARE(combo(&dialog, list)->currentIndex(), -1);
    click(&dialog, "pbOk");
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QVERIFY(dialog.isVisible());
    QCOMPARE(storedBill(id).value(column).toString(), QString("deleted"));

    combo(&dialog, list)->setCurrentIndex(0);
    if (list == "cbCategory")
        combo(&dialog, "cbSubCategory")->setCurrentIndex(0);
    click(&dialog, "pbOk");
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(storedBill(id).value(column).toString(), combo(&dialog, list)->itemData(0).toString());
}

void TestDBill::deletedMemberWithTheRowHidden()
{
    // The user cannot choose a member here, so the bill loses the member that no longer exists
    // rather than being given another one.
    FileSetting::getInstance()->setValue(SettingKeys::EnableBillMember, false);
    const QString id = addBillRow("expense", -3, QDate(2013, 7, 5),
        { { "account_id", "a1" }, { "category_id", "c1" }, { "sub_category_id", "s1" }, { "member_id", "deleted" } });
    ModalAnswerer boxes;
    DBill dialog(loadedBill(id), nullptr);
    click(&dialog, "pbOk");
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(storedBill(id).value("member_id").toString(), QString(""));
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
}

void TestDBill::memberRow_data()
{
    QTest::addColumn<bool>("setting");
    QTest::addColumn<bool>("members");
    QTest::addColumn<bool>("shown");
    QTest::addColumn<QString>("stored");

    QTest::newRow("members and the setting on") << true << true << true << "m1";
    QTest::newRow("setting off: hidden, the first member still stored") << false << true << false << "m1";
    QTest::newRow("no member at all") << true << false << false << "";
}

void TestDBill::memberRow()
{
    QFETCH(bool, setting);
    QFETCH(bool, members);
    QFETCH(bool, shown);
    QFETCH(QString, stored);

    FileSetting::getInstance()->setValue(SettingKeys::EnableBillMember, setting);
    if (!members)
        QVERIFY(execAll({ "delete from tbl_member" }));
    ModalAnswerer boxes;
    DBill dialog(nullptr);
    for (const char* name : { "lblMember", "cbMember", "pbCreateMember" })
        QCOMPARE(child<QWidget>(&dialog, name)->isVisibleTo(&dialog), shown);
    click(&dialog, "rbIncome");
    QCOMPARE(child<QWidget>(&dialog, "cbMember")->isVisibleTo(&dialog), shown);
    click(&dialog, "pbOk");
    QCOMPARE(storedBill().value("member_id").toString(), stored);
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
}

void TestDBill::titleRow_data()
{
    QTest::addColumn<bool>("setting");
    QTest::newRow("on") << true;
    QTest::newRow("off") << false;
}

void TestDBill::titleRow()
{
    QFETCH(bool, setting);

    FileSetting::getInstance()->setValue(SettingKeys::EnableBillTitle, setting);
    ModalAnswerer boxes;
    DBill dialog(nullptr);
    for (const char* radio : { "rbExpense", "rbIncome", "rbTransfer", "rbLoan" }) {
        click(&dialog, radio);
        QCOMPARE(child<QWidget>(&dialog, "lblTitle")->isVisibleTo(&dialog), setting);
        QCOMPARE(child<QWidget>(&dialog, "leTitle")->isVisibleTo(&dialog), setting);
    }
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
}

void TestDBill::emptyBook_data()
{
    QTest::addColumn<bool>("create");
    QTest::newRow("the user creates what is missing") << true;
    QTest::newRow("the user cancels the prompted dialogs") << false;
}

void TestDBill::emptyBook()
{
    QFETCH(bool, create);

    QVERIFY(execAll({ "delete from tbl_account", "delete from tbl_category", "delete from tbl_sub_category" }));
    ModalAnswerer boxes;
    boxes.expect("错误", "请先建立一个 支出 大类，并在大类下创建 小类", "确定");
    if (create) {
        boxes.expect(ModalAnswerer::ofClass("DCategory"), createNamed("餐饮"), "top category");
        boxes.expect(ModalAnswerer::ofClass("DCategory"), createNamed("早餐"), "sub-category");
    } else {
        boxes.expect(ModalAnswerer::ofClass("DCategory"), ModalAnswerer::escape(), "top category");
    }
    boxes.expect("错误", "请先建立一个 账户", "确定");
    boxes.expect(ModalAnswerer::ofClass("DAccount"), create ? createNamed("现金") : ModalAnswerer::escape(), "account");
    DBill dialog(nullptr);
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));

    if (create) {
        QCOMPARE(combo(&dialog, "cbCategory")->currentText(), QString("餐饮"));
        QCOMPARE(combo(&dialog, "cbSubCategory")->currentText(), QString("早餐"));
        QCOMPARE(combo(&dialog, "cbAccount")->currentText(), QString("现金"));
        click(&dialog, "pbOk");
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(billCount(), 1);
    } else {
        QVERIFY(child<QRadioButton>(&dialog, "rbExpense")->isChecked());
        QCOMPARE(combo(&dialog, "cbCategory")->count(), 0);
        QCOMPARE(combo(&dialog, "cbSubCategory")->count(), 0);
        boxes.expect("错误", "请进入账户列表建立一个账户", "确定");
        click(&dialog, "pbOk");
        QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
        QCOMPARE(billCount(), 0);
    }
}

void TestDBill::incomeCategoryShownWhenItsSubCategoryIsCancelled()
{
    QVERIFY(
        execAll({ "delete from tbl_category where kind = 'income'", "delete from tbl_sub_category where id = 's4'" }));
    ModalAnswerer boxes;
    DBill dialog(nullptr);
    boxes.expect("错误", "请先建立一个 收入 大类，并在大类下创建 小类", "确定");
    boxes.expect(ModalAnswerer::ofClass("DCategory"), createNamed("奖金"), "top category");
    boxes.expect(ModalAnswerer::ofClass("DCategory"), ModalAnswerer::escape(), "sub-category");
    boxes.expect(NoSubCategoryTitle, NoSubCategoryText, "否");
    click(&dialog, "rbIncome");
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    // The stored top category is offered at once, not only after the next refill.
    QCOMPARE(WidgetTest::itemTexts(combo(&dialog, "cbCategory")), QStringList({ "奖金" }));
}

void TestDBill::subCategoryQuestion_data()
{
    QTest::addColumn<QString>("answer");
    QTest::newRow("yes: the sub-category dialog for that category") << "是";
    QTest::newRow("no: no dialog, and save refuses") << "否";
}

void TestDBill::subCategoryQuestion()
{
    QFETCH(QString, answer);

    QVERIFY(execAll({ "delete from tbl_sub_category where category_id = 'c1'" }));
    QString offeredParent;
    ModalAnswerer boxes;
    // Asked once while the dialog is built, although the list is filled more than once.
    boxes.expect(NoSubCategoryTitle, NoSubCategoryText, answer);
    if (answer == "是")
        boxes.expect(
            ModalAnswerer::ofClass("DCategory"),
            [&offeredParent](QWidget* modal) {
                offeredParent = modal->findChild<QComboBox*>("cbParentId")->currentData().toString();
                createNamed("早餐")(modal);
            },
            "sub-category");
    DBill dialog(nullptr);
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));

    if (answer == "是") {
        QCOMPARE(offeredParent, QString("c1"));
        QCOMPARE(WidgetTest::itemTexts(combo(&dialog, "cbSubCategory")), QStringList({ "早餐" }));
    } else {
        QCOMPARE(combo(&dialog, "cbSubCategory")->count(), 0);
        boxes.expect("错误", "请进入分类列表建立一个小分类", "确定");
        click(&dialog, "pbOk");
        QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
        QCOMPARE(billCount(), 0);
    }
}

void TestDBill::transferNeedsTwoAccounts()
{
    QVERIFY(execAll({ "delete from tbl_account where id = 'a2'" }));
    ModalAnswerer boxes;
    DBill dialog(nullptr);
    boxes.expect("错误", "转账时，至少需要两个账户，请先再建立一个 账户", "确定");
    boxes.expect(ModalAnswerer::ofClass("DAccount"), createNamed("银行卡"), "account");
    click(&dialog, "rbTransfer");
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QCOMPARE(WidgetTest::itemTexts(combo(&dialog, "cbAccount")), QStringList({ "现金", "银行卡" }));
    QCOMPARE(WidgetTest::itemTexts(combo(&dialog, "cbToAccount")), QStringList({ "现金", "银行卡" }));
}

void TestDBill::loanNeedsABorrower()
{
    QVERIFY(execAll({ "delete from tbl_borrower" }));
    ModalAnswerer boxes;
    DBill dialog(nullptr);
    boxes.expect("错误", "请创建一个 借款人", "确定");
    boxes.expect(ModalAnswerer::ofClass("DBorrower"), ModalAnswerer::escape(), "borrower");
    click(&dialog, "rbLoan");
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QCOMPARE(combo(&dialog, "cbBorrower")->count(), 0);

    boxes.expect("错误", "请先进入借款人列表创建一个 借款人", "确定");
    boxes.expect(ModalAnswerer::ofClass("DBorrower"), createNamed("老王"), "borrower");
    combo(&dialog, "cbLoanKind")->setCurrentIndex(1);
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QCOMPARE(combo(&dialog, "cbBorrower")->currentText(), QString("老王"));

    click(&dialog, "pbOk");
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    const QVariantMap row = storedBill();
    QCOMPARE(row.value("kind").toString(), QString("borrow"));
    QCOMPARE(row.value("borrower_id").toString(), combo(&dialog, "cbBorrower")->currentData().toString());
}

void TestDBill::createButtons_data()
{
    QTest::addColumn<QString>("radio");
    QTest::addColumn<QString>("button");
    QTest::addColumn<QByteArray>("dialogClass");
    QTest::addColumn<QString>("list");
    QTest::addColumn<QStringList>("items");

    QTest::newRow("account") << "rbExpense"
                             << "pbCreateAccount" << QByteArray("DAccount") << "cbAccount"
                             << QStringList { "现金", "银行卡", "新的" };
    QTest::newRow("borrower") << "rbLoan"
                              << "pbCreateBorrower" << QByteArray("DBorrower") << "cbBorrower"
                              << QStringList { "老王", "老李", "新的" };
    QTest::newRow("member") << "rbExpense"
                            << "pbCreateMember" << QByteArray("DMember") << "cbMember"
                            << QStringList { "自己", "家人", "新的" };
    QTest::newRow("income category") << "rbIncome"
                                     << "pbCreateCategory" << QByteArray("DCategory") << "cbCategory"
                                     << QStringList { "工资", "新的" };
    QTest::newRow("sub-category") << "rbExpense"
                                  << "pbCreateSubCategory" << QByteArray("DCategory") << "cbSubCategory"
                                  << QStringList { "早餐", "午餐", "新的" };
}

void TestDBill::createButtons()
{
    QFETCH(QString, radio);
    QFETCH(QString, button);
    QFETCH(QByteArray, dialogClass);
    QFETCH(QString, list);
    QFETCH(QStringList, items);

    ModalAnswerer boxes;
    DBill dialog(nullptr);
    click(&dialog, radio);
    boxes.expect(
        ModalAnswerer::ofClass(dialogClass.constData()), createNamed("新的"), QString::fromLatin1(dialogClass));
    click(&dialog, button);
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QCOMPARE(WidgetTest::itemTexts(combo(&dialog, list)), items);
}

void TestDBill::failedStoreKeepsTheDialogOpen_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("edit");
    QTest::newRow("new bill, OK") << "pbOk" << false;
    QTest::newRow("new bill, save and continue") << "pbContinue" << false;
    QTest::newRow("edited bill, OK") << "pbOk" << true;
}

void TestDBill::failedStoreKeepsTheDialogOpen()
{
    QFETCH(QString, button);
    QFETCH(bool, edit);

    const QString id = edit ? addBillRow("expense", -1, QDate(2013, 7, 5),
                           { { "account_id", "a1" }, { "category_id", "c1" }, { "sub_category_id", "s1" } })
                            : QString();
    MBill* bill = edit ? loadedBill(id) : nullptr;
    // The book refuses every write of a bill, as a full disk or a locked file would.
    QVERIFY(
        execAll({ "create trigger refuse_insert before insert on tbl_bill begin select raise(abort, 'refused'); end",
            "create trigger refuse_update before update on tbl_bill begin select raise(abort, 'refused'); end" }));
    const int before = billCount();

    ModalAnswerer boxes;
    boxes.expect("错误", "账目没有保存成功，请稍后再试。", "确定");
    std::unique_ptr<DBill> dialog = edit ? std::make_unique<DBill>(bill, nullptr) : std::make_unique<DBill>(nullptr);
    dialog->show();
    auto* amount = child<QDoubleSpinBox>(dialog.get(), "dsbAmount");
    amount->setValue(66);
    click(dialog.get(), button);
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));

    QVERIFY(dialog->isVisible());
    QVERIFY(dialog->result() != QDialog::Accepted);
    QCOMPARE(amount->value(), 66.0);
    QCOMPARE(billCount(), before);
    if (edit)
        QCOMPARE(bill->getAmount(), -1.0);
}

void TestDBill::calculatorFillsTheAmount()
{
    ModalAnswerer boxes;
    DBill dialog(nullptr);
    dialog.show();
    auto* button = child<QToolButton>(&dialog, "pbCalculator");
    button->click();
    auto* calculator = dialog.findChild<DCalculator*>();
    QVERIFY(calculator && calculator->isVisible());
    QCOMPARE(calculator->pos(), button->mapToGlobal(QPoint(0, button->height())));
    for (const char* key : { "1", "2", "add", "3", "equal" })
        click(calculator, QStringLiteral("pushButton_") + key);
    QVERIFY(!calculator->isVisible());
    QCOMPARE(child<QDoubleSpinBox>(&dialog, "dsbAmount")->value(), 15.0);
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
}

void TestDBill::buttonsStayAboveTheFooter_data()
{
    QTest::addColumn<QString>("radio");
    for (const char* radio : { "rbExpense", "rbIncome", "rbTransfer", "rbLoan" })
        QTest::newRow(radio) << radio;
}

void TestDBill::buttonsStayAboveTheFooter()
{
    QFETCH(QString, radio);
    // The dialog's picture ends in a footer strip 40 pixels high (the style sheet's border).
    QFile sheet(":/rc/style/default.qss");
    QVERIFY(sheet.open(QIODevice::ReadOnly));
    qApp->setStyleSheet(QString::fromLatin1(sheet.readAll()));
    ModalAnswerer boxes;
    DBill dialog(nullptr);
    click(&dialog, radio);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    for (const char* name : { "pbOk", "pbContinue", "pbCancel", "cbContinue" }) {
        const QWidget* button = child<QWidget>(&dialog, name);
        const int bottom = button->mapTo(&dialog, QPoint(0, button->height())).y();
        QVERIFY2(bottom <= dialog.height() - 40, name);
    }
    qApp->setStyleSheet(QString());
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
}

QTEST_MAIN(TestDBill)
#include "tst_dbill.moc"
