#pragma once

#include <QDate>
#include <QString>

// Reads the amounts and dates of statements as people and programs write them.
class ValueParser {
public:
    // Amounts: a sign ("+", "-", "−") before or after the number, or parentheses for a negative one;
    // a decimal point or comma with thousands separated by the other (or by "'" or blanks);
    // currency signs (¥, ￥, $, €, £) and "元", "RMB", "CNY"; full-width digits. Rounded to cents in
    // decimal, half away from zero (1.005 is 1.01, -0.125 is -0.13). At most MaxCents in either
    // direction. False, with the reason for the user, for anything else.
    static bool parseAmount(const QString& text, double* amount, QString* reason = nullptr);
    // The same as a whole number of cents.
    static bool parseCents(const QString& text, qint64* cents, QString* reason = nullptr);
    // Ten trillion: beyond any household's sums, and exact in a double with its cents.
    static constexpr qint64 MaxCents = Q_INT64_C(1000000000000000);

    // Which of day and month comes first in a date such as 3/4/2023.
    enum class DateOrder { Unknown, MonthDay, DayMonth };
    // What a date text allows: whether it names day and month by position at all (3/4/2023 does,
    // 2023-04-03 and 03.04.2023 do not), and whether each order gives a real day.
    struct DateShape {
        bool readable = false;
        bool positional = false;
        bool monthDayPossible = false;
        bool dayMonthPossible = false;
        // Both orders give a day, and different ones (3/4/2023, not 4/4/2023).
        bool ambiguous = false;
    };
    static DateShape dateShape(const QString& text);
    // Dates: yyyy-MM-dd, yyyy/M/d, yyyy.M.d, yyyy年M月d日, dd.MM.yyyy, and M/d/yyyy or d/M/yyyy
    // (also with "-" or "'" before the year, and two-digit years) as order says, each with or
    // without a time of day after it. False with the reason for a date that cannot be read, one
    // that needs an order and got none, and one that names no day (2023-02-30).
    static bool parseDate(const QString& text, DateOrder order, QDate* date, QString* reason = nullptr);

private:
    struct DateParts;
    static bool splitDate(const QString& text, DateParts* parts);
};
