#pragma once

#include <QDate>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>

#include "analysis/reportrows.h"

// Turns the bills of the open book (the default connection) into the figures of the analysis
// pages. It keeps no state: every call runs its own SQL, with every value bound, and returns new
// rows closed by the total row "合计".
//
// The category, account, borrower and member figures take a scope and a value: "all" (value
// ignored), "year" (value yyyy) or "month" (value yyyyMM).
class ReportHelper : public QObject {
    Q_OBJECT

public:
    explicit ReportHelper(QObject* parent = nullptr);

    // The years the pages offer, newest first: from the earliest bill's year to the current year
    // (or from the current year to the earliest bill's year when that lies ahead).
    QList<int> getYearList();
    QList<int> getMonthList();

    // The twelve months of year, then the total row.
    QList<MPeriodStat> statYear(int year);
    // The days of month (yyyyMM), then the total row.
    QList<MPeriodStat> statMonth(int month);

    // Top categories of kind ("expense" or "income") with their sub-categories, then the total row.
    QList<MCategoryStat> getCategoryData(const QString& kind, const QString& scope, int value);
    // Every account, ordered by its kind key, then the total row.
    QList<MAccountStat> getAccountData(const QString& scope, int value);
    QList<MBorrowerStat> getBorrowerData(const QString& scope, int value);
    QList<MMemberStat> getMemberData(const QString& scope, int value);

    // Rows of cell texts as HTML table rows; the cells go in as they are (callers escape what
    // came from the user).
    static QString toHtmlRows(const QList<QStringList>& rows);

    // Today's date as the analyses see it; tests set a fixed day (an empty function brings the
    // clock back).
    static QDate today();
    static void setToday(std::function<QDate()> clock);
};
