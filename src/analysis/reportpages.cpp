#include "analysis/reportpages.h"

#include <QCoreApplication>
#include <QFile>
#include <cmath>

#include "analysis/reporthelper.h"
#include "data/money.h"

namespace ReportPages {

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("ReportPages", text);
}

QString joined(const QList<double>& values, bool absolute)
{
    QStringList texts;
    for (double value : values)
        texts.append(amountText(absolute ? std::fabs(value) : value));
    return texts.join(QLatin1Char(','));
}

} // namespace

QString read(const QString& resource)
{
    QFile file(resource);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll());
}

QString fill(const QString& text, const QList<QPair<QString, QString>>& values)
{
    QString result;
    result.reserve(text.size());
    qsizetype at = 0;
    while (at < text.size()) {
        const qsizetype mark = text.indexOf(QLatin1Char('#'), at);
        if (mark < 0) {
            result += QStringView(text).mid(at);
            break;
        }
        result += QStringView(text).mid(at, mark - at);
        at = mark;
        bool replaced = false;
        for (const auto& [placeholder, value] : values) {
            if (QStringView(text).mid(mark).startsWith(placeholder)) {
                result += value;
                at = mark + placeholder.size();
                replaced = true;
                break;
            }
        }
        if (!replaced) {
            result += QLatin1Char('#');
            ++at;
        }
    }
    return result;
}

QString jsString(const QString& text)
{
    QString escaped;
    escaped.reserve(text.size() + 8);
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '\\':
            escaped += QLatin1String("\\\\");
            break;
        case '\'':
            escaped += QLatin1String("\\'");
            break;
        case '\n':
            escaped += QLatin1String("\\n");
            break;
        case '\r':
            escaped += QLatin1String("\\r");
            break;
        case 0x2028:
            escaped += QLatin1String("\\u2028");
            break;
        case 0x2029:
            escaped += QLatin1String("\\u2029");
            break;
        case '<':
            escaped += QLatin1String("\\x3c");
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

QString plainTitle(const QString& title)
{
    QString plain = title;
    plain.remove(QStringLiteral("<b>"));
    plain.remove(QStringLiteral("</b>"));
    return plain;
}

QString amountText(double amount)
{
    return formatMoney(std::isfinite(amount) ? amount : 0.0);
}

QString shareText(double ratio)
{
    return amountText(ratio * 100.0) + QLatin1Char('%');
}

QString piePage(const QString& title, const QList<QPair<QString, double>>& points)
{
    QStringList data;
    for (const auto& [name, value] : points)
        data.append(
            QStringLiteral("['") + jsString(name) + QStringLiteral("',") + amountText(value) + QLatin1Char(']'));
    return fill(read(QStringLiteral(":/rc/chart/pie.html")),
        { { QStringLiteral("#title#"), jsString(title) }, { QStringLiteral("#data#"), data.join(QLatin1Char(',')) } });
}

QString columnPage(
    const QString& title, const QStringList& names, const QList<double>& expenses, const QList<double>& incomes)
{
    QStringList x;
    for (const QString& name : names)
        x.append(name.right(2));
    return fill(read(QStringLiteral(":/rc/chart/column.html")),
        { { QStringLiteral("#title#"), jsString(title) }, { QStringLiteral("#x#"), x.join(QLatin1Char(',')) },
            { QStringLiteral("#yExpenses#"), joined(expenses, true) },
            { QStringLiteral("#yIncomes#"), joined(incomes, true) } });
}

QString reportPage(
    const QString& resource, const QString& summary, const QString& title, const QList<QStringList>& rows)
{
    return fill(read(resource),
        { { QStringLiteral("#summary#"), summary }, { QStringLiteral("#title#"), plainTitle(title).toHtmlEscaped() },
            { QStringLiteral("#data#"), ReportHelper::toHtmlRows(rows) } });
}

QString summary(double expense, double income, double total)
{
    return tr("<li>支出小计：%1</li>").arg(amountText(expense)) + tr("<li>收入小计：%1</li>").arg(amountText(income))
        + tr("<li>结余小计：%1</li>").arg(amountText(total));
}

} // namespace ReportPages
