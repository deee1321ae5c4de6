#pragma once

#include <QDate>
#include <QString>
#include <QVariantMap>

// Reference records with short ids for the bill list tests, written with SQL (no signals):
//   accounts    A1 现金, A2 银行卡
//   categories  C1 餐饮 (expense) with S1 早餐 and S2 午餐; C2 工资 (income) with S3 月薪
//   borrowers   B1 小王, B2 老李
//   members     M1 自己, M2 家人
// The record caches are dropped afterwards, so the next reads see them.
void addReferences();

// A bill row written with SQL: each one counts as created after the one before, so that bills
// of the same date are listed in the reverse order of their adding.
QString addBill(const QString& kind, double amount, const QDate& date, const QVariantMap& columns = {});

// Bills on those records, described by their descriptions: expenses e1 (2013-07-05) and e2
// (07-06), income i1 (06-30), transfer t1 into A1 (07-06), lend l1 (07-07), borrow b1 (06-10).
void addStandardBills();
