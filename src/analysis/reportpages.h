#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

// The chart and report pages: HTML templates in the resources (:/rc/chart/, :/rc/report/) whose
// placeholders ("#title#", "#data#", ...) are replaced by texts made from the analysis rows. Every
// text that came from the book is escaped for where it lands, and what a placeholder brings in is
// never searched for placeholders again.
namespace ReportPages {

// A template read whole as UTF-8; empty when it cannot be read.
QString read(const QString& resource);
// Replaces every occurrence of each placeholder in one pass over text.
QString fill(const QString& text, const QList<QPair<QString, QString>>& values);

// text as the content of a single-quoted script string: \ ' newline, CR, U+2028, U+2029 and "<"
// are escaped, so the string ends where the page means it to and no "</script>" closes the script.
QString jsString(const QString& text);
// The title without its bold marks, for the report's title element and heading.
QString plainTitle(const QString& title);

// An amount with two decimals and its sign, rounded to cents (never "-0.00", never "nan").
QString amountText(double amount);
// A ratio as a percentage with two decimals and "%".
QString shareText(double ratio);

// The pie page: one point (name, value) per entry.
QString piePage(const QString& title, const QList<QPair<QString, double>>& points);
// The column page: a category per entry of names (the last two characters of each are shown) and
// the absolute expense and income of each.
QString columnPage(
    const QString& title, const QStringList& names, const QList<double>& expenses, const QList<double>& incomes);
// A report page: its summary items, its title (bold marks removed) and the table rows made of
// cells (the caller escapes the texts that came from the book).
QString reportPage(
    const QString& resource, const QString& summary, const QString& title, const QList<QStringList>& rows);
// The three subtotal items of a report's summary.
QString summary(double expense, double income, double total);

} // namespace ReportPages
