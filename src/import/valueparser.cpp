#include "import/valueparser.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include <QObject>

namespace {

// Full-width digits, signs and currency signs become their plain forms.
QString plain(const QString& text)
{
    for (QChar c : text) {
        if (c.unicode() >= 0x80)
            return text.normalized(QString::NormalizationForm_KC).trimmed();
    }
    return text.trimmed();
}

// The value as a reason quotes it: a long one cut short.
QString quoted(const QString& text)
{
    const QString simple = text.simplified();
    return simple.size() > 30 ? simple.left(30) + QChar(0x2026) : simple;
}

void setReason(QString* reason, const QString& text)
{
    if (reason)
        *reason = text;
}

} // namespace

bool ValueParser::parseAmount(const QString& text, double* amount, QString* reason)
{
    // Most amounts are plain ("-12.50"): read them without taking them apart.
    if (!text.isEmpty() && text.size() < 15) {
        qsizetype i = text.at(0) == QLatin1Char('-') ? 1 : 0;
        int points = 0;
        bool plainNumber = i < text.size();
        for (qsizetype j = i; j < text.size() && plainNumber; ++j) {
            const char16_t c = text.at(j).unicode();
            if (c == u'.')
                ++points;
            else if (c < u'0' || c > u'9')
                plainNumber = false;
        }
        if (plainNumber && points <= 1 && text.at(i) != QLatin1Char('.') && !text.endsWith(QLatin1Char('.'))) {
            // At most 15 digits: exact in a double.
            qint64 whole = 0;
            qint64 fraction = 0;
            qint64 scale = 1;
            bool afterPoint = false;
            for (qsizetype j = i; j < text.size(); ++j) {
                const char16_t c = text.at(j).unicode();
                if (c == u'.')
                    afterPoint = true;
                else if (afterPoint)
                    fraction = fraction * 10 + (c - u'0'), scale *= 10;
                else
                    whole = whole * 10 + (c - u'0');
            }
            const double value = double(whole) + double(fraction) / double(scale);
            const double cents = std::round(value * 100.0) / 100.0;
            *amount = cents == 0.0 ? 0.0 : (i == 1 ? -cents : cents);
            return true;
        }
    }
    QString s = plain(text);
    if (s.isEmpty()) {
        setReason(reason, QObject::tr("没有金额"));
        return false;
    }
    for (const char* currency : { "RMB", "CNY", "USD", "EUR" })
        s.remove(QLatin1String(currency), Qt::CaseInsensitive);
    QString kept;
    kept.reserve(s.size());
    for (QChar c : std::as_const(s)) {
        // Currency signs, the yuan, blanks and the Swiss thousands mark say nothing about the value.
        if (c == QChar(0x00A5) || c == QLatin1Char('$') || c == QChar(0x20AC) || c == QChar(0x00A3)
            || c == QChar(0x5143) || c.isSpace() || c == QLatin1Char('\''))
            continue;
        kept += c == QChar(0x2212) ? QLatin1Char('-') : c;
    }
    s = kept;

    bool negative = false;
    if (s.size() >= 2 && s.startsWith(QLatin1Char('(')) && s.endsWith(QLatin1Char(')'))) {
        negative = true;
        s = s.mid(1, s.size() - 2);
    }
    if (s.startsWith(QLatin1Char('-')) || s.startsWith(QLatin1Char('+'))) {
        negative = negative != s.startsWith(QLatin1Char('-'));
        s.remove(0, 1);
    } else if (s.endsWith(QLatin1Char('-')) || s.endsWith(QLatin1Char('+'))) {
        negative = negative != s.endsWith(QLatin1Char('-'));
        s.chop(1);
    }

    // What is left: digits with points and commas between them, nothing else.
    const bool onlyNumber = std::all_of(s.cbegin(), s.cend(),
        [](QChar c) { return (c.isDigit() && c.unicode() < 0x80) || c == QLatin1Char('.') || c == QLatin1Char(','); });
    const bool anyDigit = std::any_of(s.cbegin(), s.cend(), [](QChar c) { return c.isDigit(); });
    if (!onlyNumber || !anyDigit) {
        setReason(reason, QObject::tr("金额“%1”无法识别").arg(quoted(text)));
        return false;
    }

    // The decimal mark is the last of point and comma when both are there; the other groups
    // thousands. A lone comma before three digits groups thousands (1,234); otherwise it is the
    // decimal comma (12,50). A mark that repeats groups thousands.
    const qsizetype dot = s.lastIndexOf(QLatin1Char('.'));
    const qsizetype comma = s.lastIndexOf(QLatin1Char(','));
    QChar decimal;
    if (dot >= 0 && comma >= 0)
        decimal = dot > comma ? QLatin1Char('.') : QLatin1Char(',');
    else if (dot >= 0 && s.count(QLatin1Char('.')) == 1)
        decimal = QLatin1Char('.');
    else if (comma >= 0 && s.count(QLatin1Char(',')) == 1 && s.size() - comma - 1 != 3)
        decimal = QLatin1Char(',');
    if (!decimal.isNull() && s.count(decimal) > 1) {
        setReason(reason, QObject::tr("金额“%1”无法识别").arg(quoted(text)));
        return false;
    }
    QString number;
    number.reserve(s.size());
    for (QChar c : std::as_const(s)) {
        if (c == decimal)
            number += QLatin1Char('.');
        else if (c.isDigit())
            number += c;
    }
    bool ok = false;
    const double value = number.toDouble(&ok);
    if (!ok || !std::isfinite(value) || value > 1e13) {
        setReason(reason, QObject::tr("金额“%1”无法识别").arg(quoted(text)));
        return false;
    }
    const double cents = std::round(value * 100.0) / 100.0;
    *amount = negative && cents != 0.0 ? -cents : cents;
    return true;
}

struct ValueParser::DateParts {
    int numbers[3] = { 0, 0, 0 };
    int lengths[3] = { 0, 0, 0 };
    QChar separators[2];
    bool yearFirst = false;
    bool dayFirst = false; // dd.MM.yyyy
    bool positional = false;
    int year = 0;
};

bool ValueParser::splitDate(const QString& text, DateParts* parts)
{
    // Blanks after a separator belong to the date (QIF writes " 1/ 5'23"); the first other blank
    // or a "T" ends it, and a time of day may follow.
    const QString s = plain(text);
    QString date;
    qsizetype i = 0;
    for (; i < s.size(); ++i) {
        const QChar c = s.at(i);
        if (c.isSpace()) {
            if (!date.isEmpty() && strchr("/-.'", date.back().toLatin1()) && date.back().unicode() < 0x80)
                continue;
            break;
        }
        if (c == QLatin1Char('T') && !date.isEmpty() && date.back().isDigit())
            break;
        date += c;
    }
    for (++i; i < s.size(); ++i) {
        const QChar c = s.at(i);
        if (!c.isDigit() && c != QLatin1Char(':') && c != QLatin1Char('.') && !c.isSpace())
            return false;
    }
    if (date.endsWith(QChar(0x65E5))) // 日
        date.chop(1);

    int part = 0;
    qsizetype pos = 0;
    while (part < 3) {
        const qsizetype begin = pos;
        while (pos < date.size() && date.at(pos).isDigit() && date.at(pos).unicode() < 0x80)
            ++pos;
        const int length = int(pos - begin);
        if (length == 0 || length > 4)
            return false;
        parts->numbers[part] = date.mid(begin, length).toInt();
        parts->lengths[part] = length;
        if (part < 2) {
            if (pos >= date.size())
                return false;
            parts->separators[part] = date.at(pos++);
        }
        ++part;
    }
    if (pos != date.size())
        return false;

    const QChar first = parts->separators[0];
    const QChar second = parts->separators[1];
    const auto among = [](QChar c, const char* allowed) { return c.unicode() < 0x80 && strchr(allowed, c.toLatin1()); };
    if (parts->lengths[0] == 4) {
        const bool chinese = first == QChar(0x5E74) && second == QChar(0x6708); // 年 月
        if (!chinese && !(first == second && among(first, "-/.")))
            return false;
        parts->yearFirst = true;
        parts->year = parts->numbers[0];
        return parts->lengths[1] <= 2 && parts->lengths[2] <= 2;
    }
    if (parts->lengths[0] > 2 || parts->lengths[1] > 2 || (parts->lengths[2] != 2 && parts->lengths[2] != 4))
        return false;
    int year = parts->numbers[2];
    if (parts->lengths[2] == 2)
        year += second == QLatin1Char('\'') || year < 70 ? 2000 : 1900;
    parts->year = year;
    if (first == QLatin1Char('.') && second == QLatin1Char('.')) {
        parts->dayFirst = true;
        return true;
    }
    if (among(first, "/-") && (second == first || second == QLatin1Char('\''))) {
        parts->positional = true;
        return true;
    }
    return false;
}

ValueParser::DateShape ValueParser::dateShape(const QString& text)
{
    DateShape shape;
    DateParts parts;
    if (!splitDate(text, &parts))
        return shape;
    shape.readable = true;
    shape.positional = parts.positional;
    if (parts.positional) {
        shape.monthDayPossible = QDate(parts.year, parts.numbers[0], parts.numbers[1]).isValid();
        shape.dayMonthPossible = QDate(parts.year, parts.numbers[1], parts.numbers[0]).isValid();
        shape.ambiguous = shape.monthDayPossible && shape.dayMonthPossible && parts.numbers[0] != parts.numbers[1];
    }
    return shape;
}

bool ValueParser::parseDate(const QString& text, DateOrder order, QDate* date, QString* reason)
{
    // yyyy-MM-dd, the commonest, read at once.
    if (text.size() == 10 && text.at(4) == QLatin1Char('-') && text.at(7) == QLatin1Char('-')) {
        int parts[3] = { 0, 0, 0 };
        bool digits = true;
        for (int i = 0, part = 0; i < 10 && digits; ++i) {
            const char16_t c = text.at(i).unicode();
            if (i == 4 || i == 7)
                ++part;
            else if (c >= u'0' && c <= u'9')
                parts[part] = parts[part] * 10 + (c - u'0');
            else
                digits = false;
        }
        const QDate quick(parts[0], parts[1], parts[2]);
        if (digits && quick.isValid() && quick.year() >= 1900) {
            *date = quick;
            return true;
        }
    }
    DateParts parts;
    if (!splitDate(text, &parts)) {
        setReason(reason,
            text.trimmed().isEmpty() ? QObject::tr("没有日期") : QObject::tr("日期“%1”无法识别").arg(quoted(text)));
        return false;
    }
    int month = 0;
    int day = 0;
    if (parts.yearFirst) {
        month = parts.numbers[1];
        day = parts.numbers[2];
    } else if (parts.dayFirst) {
        day = parts.numbers[0];
        month = parts.numbers[1];
    } else {
        const bool monthDay = QDate(parts.year, parts.numbers[0], parts.numbers[1]).isValid();
        const bool dayMonth = QDate(parts.year, parts.numbers[1], parts.numbers[0]).isValid();
        if (order == DateOrder::Unknown && monthDay && dayMonth && parts.numbers[0] != parts.numbers[1]) {
            setReason(reason, QObject::tr("日期“%1”分不清日和月，请选择日期顺序").arg(quoted(text)));
            return false;
        }
        const bool useMonthDay = order == DateOrder::MonthDay || (order == DateOrder::Unknown && monthDay);
        month = parts.numbers[useMonthDay ? 0 : 1];
        day = parts.numbers[useMonthDay ? 1 : 0];
    }
    const QDate result(parts.year, month, day);
    if (!result.isValid() || parts.year < 1900) {
        setReason(reason, QObject::tr("日期“%1”不存在").arg(quoted(text)));
        return false;
    }
    *date = result;
    return true;
}
