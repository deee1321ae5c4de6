#include "billlistfixture.h"

#include <QDateTime>

#include "testenv.h"

void addReferences()
{
    execAll({
        "insert into tbl_account (id, name, kind, amount, sort) values ('A1', '现金', 'cash', 0, 1)",
        "insert into tbl_account (id, name, kind, amount, sort) values ('A2', '银行卡', 'card', 0, 2)",
        "insert into tbl_category (id, name, kind, sort) values ('C1', '餐饮', 'expense', 1)",
        "insert into tbl_category (id, name, kind, sort) values ('C2', '工资', 'income', 2)",
        "insert into tbl_sub_category (id, category_id, name, kind, sort) values ('S1', 'C1', '早餐', 'expense', 1)",
        "insert into tbl_sub_category (id, category_id, name, kind, sort) values ('S2', 'C1', '午餐', 'expense', 2)",
        "insert into tbl_sub_category (id, category_id, name, kind, sort) values ('S3', 'C2', '月薪', 'income', 1)",
        "insert into tbl_borrower (id, name, sort) values ('B1', '小王', 1)",
        "insert into tbl_borrower (id, name, sort) values ('B2', '老李', 2)",
        "insert into tbl_member (id, name, sort) values ('M1', '自己', 1)",
        "insert into tbl_member (id, name, sort) values ('M2', '家人', 2)",
    });
    TestBook::resetRecordCaches();
}

QString addBill(const QString& kind, double amount, const QDate& date, const QVariantMap& columns)
{
    static int created = 0;
    QVariantMap all = columns;
    if (!all.contains("created_time")) {
        const QDateTime time = QDateTime(QDate(2020, 1, 1), QTime(0, 0)).addSecs(++created);
        all.insert("created_time", time.toString("yyyy-MM-dd hh:mm:ss"));
    }
    return addBillRow(kind, amount, date, all);
}

void addStandardBills()
{
    addBill("expense", -35, QDate(2013, 7, 5),
        { { "category_id", "C1" }, { "sub_category_id", "S1" }, { "account_id", "A1" }, { "member_id", "M1" },
            { "description", "e1" } });
    addBill("expense", -20, QDate(2013, 7, 6),
        { { "category_id", "C1" }, { "sub_category_id", "S2" }, { "account_id", "A2" }, { "member_id", "M2" },
            { "description", "e2" } });
    addBill("income", 8000, QDate(2013, 6, 30),
        { { "category_id", "C2" }, { "sub_category_id", "S3" }, { "account_id", "A2" }, { "member_id", "M1" },
            { "description", "i1" } });
    addBill("transfer", -500, QDate(2013, 7, 6),
        { { "account_id", "A2" }, { "to_account_id", "A1" }, { "description", "t1" } });
    addBill(
        "lend", -100, QDate(2013, 7, 7), { { "account_id", "A1" }, { "borrower_id", "B1" }, { "description", "l1" } });
    addBill("borrow", 300, QDate(2013, 6, 10),
        { { "account_id", "A2" }, { "borrower_id", "B2" }, { "description", "b1" } });
}
