#pragma once

#include <QString>
#include <vector>

// The rows of the analyses: plain records that ReportHelper fills afresh on every call. Every list
// ends with the total row "合计"; ratios are fractions (0.25, not 25).

// A month ("yyyyMM") or a day ("yyyy-MM-dd") of the statistics page.
struct MPeriodStat {
    QString name;
    double expense = 0;
    double income = 0;
    double total = 0;
};

// A top category with its sub-categories as children, or a sub-category.
struct MCategoryStat {
    QString id;
    QString name;
    QString kind;
    int count = 0;
    double total = 0;
    double ratio = 0;
    std::vector<MCategoryStat> children;
};

struct MAccountStat {
    QString id;
    QString name;
    QString kind;
    double expense = 0;
    double income = 0;
    double transferIn = 0;
    double transferOut = 0;
    double lend = 0;
    double borrow = 0;
    double refund = 0;
    double repay = 0;
    double total = 0;
};

struct MBorrowerStat {
    QString id;
    QString name;
    double borrow = 0;
    double lend = 0;
    double refund = 0;
    double repay = 0;
    double total = 0;
};

struct MMemberStat {
    QString id;
    QString name;
    double expense = 0;
    double expenseRatio = 0;
    double income = 0;
    double incomeRatio = 0;
    double total = 0;
    double totalRatio = 0;
};
