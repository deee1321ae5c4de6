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
    qint64 value = 0;
    if (!parseCents(text, &value, reason))
        return false;
    *amount = double(value) / 100.0;
    return true;
}

namespace {

// Cents of the whole part's digits and the fraction's, rounded half away from zero on the third
// decimal. False when the value is beyond the cap.
bool centsOf(QStringView whole, QStringView fraction, qint64* cents)
{
    while (whole.size() > 1 && whole.front() == u'0')
        whole = whole.mid(1);
    // One digit more than the cap's whole part has cannot be within it.
    if (whole.size() > 14)
        return false;
    qint64 value = 0;
    for (QChar c : whole)
        value = value * 10 + (c.unicode() - u'0');
    for (int i = 0; i < 2; ++i)
        value = value * 10 + (i < fraction.size() ? fraction.at(i).unicode() - u'0' : 0);
    if (fraction.size() > 2 && fraction.at(2).unicode() >= u'5')
        ++value;
    if (value > ValueParser::MaxCents)
        return false;
    *cents = value;
    return true;
}

bool allDigits(QStringView text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() >= u'0' && c.unicode() <= u'9'; });
}

} // namespace

bool ValueParser::parseCents(const QString& text, qint64* cents, QString* reason)
{
    const auto refuse = [&] {
        setReason(reason, QObject::tr("金额“%1”无法识别").arg(quoted(text)));
        return false;
    };
    const auto tooLarge = [&] {
        setReason(reason, QObject::tr("金额“%1”超出范围").arg(quoted(text)));
        return false;
    };
    // Most amounts are plain ("-12.50"): read them without taking them apart.
    if (!text.isEmpty() && text.size() < 64) {
        const QStringView view(text);
        const bool minus = view.front() == u'-';
        const QStringView number = view.mid(minus ? 1 : 0);
        const qsizetype point = number.indexOf(u'.');
        const QStringView whole = point < 0 ? number : number.left(point);
        const QStringView fraction = point < 0 ? QStringView() : number.mid(point + 1);
        if (!whole.isEmpty() && allDigits(whole) && (point < 0 || (!fraction.isEmpty() && allDigits(fraction)))) {
            qint64 value = 0;
            if (!centsOf(whole, fraction, &value))
                return tooLarge();
            *cents = minus ? -value : value;
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
    // Currency signs and the yuan say nothing about the value; blanks and "'" inside the number
    // group its thousands as a comma or point may.
    QString kept;
    kept.reserve(s.size());
    for (QChar c : std::as_const(s)) {
        if (c == QChar(0x00A5) || c == QLatin1Char('$') || c == QChar(0x20AC) || c == QChar(0x00A3)
            || c == QChar(0x5143))
            continue;
        if (c.isSpace() || c == QLatin1Char('\''))
            kept += QLatin1Char(' ');
        else
            kept += c == QChar(0x2212) ? QLatin1Char('-') : c;
    }
    s = kept.trimmed();

    bool negative = false;
    if (s.size() >= 2 && s.startsWith(QLatin1Char('(')) && s.endsWith(QLatin1Char(')'))) {
        negative = true;
        s = s.mid(1, s.size() - 2).trimmed();
    }
    if (s.startsWith(QLatin1Char('-')) || s.startsWith(QLatin1Char('+'))) {
        negative = negative != s.startsWith(QLatin1Char('-'));
        s = s.mid(1).trimmed();
    } else if (s.endsWith(QLatin1Char('-')) || s.endsWith(QLatin1Char('+'))) {
        negative = negative != s.endsWith(QLatin1Char('-'));
        s.chop(1);
        s = s.trimmed();
    }

    // What is left: digits with points, commas and blanks between them, nothing else.
    const bool onlyNumber = std::all_of(s.cbegin(), s.cend(), [](QChar c) {
        return (c.unicode() >= u'0' && c.unicode() <= u'9') || c == QLatin1Char('.') || c == QLatin1Char(',')
            || c == QLatin1Char(' ');
    });
    const bool anyDigit = std::any_of(s.cbegin(), s.cend(), [](QChar c) { return c.isDigit(); });
    if (!onlyNumber || !anyDigit)
        return refuse();

    // The decimal mark is the last of point and comma when both are there; the other groups
    // thousands. A lone point is the decimal point; a lone comma before three digits groups
    // thousands (1,234), otherwise it is the decimal comma (12,50). A mark that repeats groups
    // thousands, and then every group after the first has three digits (1.2.3 is no amount).
    const qsizetype dot = s.lastIndexOf(QLatin1Char('.'));
    const qsizetype comma = s.lastIndexOf(QLatin1Char(','));
    QChar decimal;
    if (dot >= 0 && comma >= 0)
        decimal = dot > comma ? QLatin1Char('.') : QLatin1Char(',');
    else if (dot >= 0 && s.count(QLatin1Char('.')) == 1)
        decimal = QLatin1Char('.');
    else if (comma >= 0 && s.count(QLatin1Char(',')) == 1 && s.size() - comma - 1 != 3)
        decimal = QLatin1Char(',');
    if (!decimal.isNull() && s.count(decimal) > 1)
        return refuse();
    const qsizetype mark = decimal.isNull() ? -1 : s.indexOf(decimal);
    const QString wholeText = mark < 0 ? s : s.left(mark);
    const QString fraction = mark < 0 ? QString() : s.mid(mark + 1);
    if (!allDigits(fraction) || (mark >= 0 && fraction.isEmpty() && wholeText.isEmpty()))
        return refuse();
    QString whole;
    whole.reserve(wholeText.size());
    qsizetype group = 0;
    bool grouped = false;
    for (qsizetype i = 0; i <= wholeText.size(); ++i) {
        if (i < wholeText.size() && wholeText.at(i).isDigit()) {
            whole += wholeText.at(i);
            ++group;
            continue;
        }
        // A grouping mark or the end: the first group has one to three digits, every later one three.
        if (i < wholeText.size() || grouped) {
            if (grouped ? group != 3 : (group < 1 || group > 3))
                return refuse();
        }
        if (i < wholeText.size())
            grouped = true;
        group = 0;
    }
    qint64 value = 0;
    if (!centsOf(whole.isEmpty() ? QStringLiteral("0") : whole, fraction, &value))
        return tooLarge();
    *cents = negative ? -value : value;
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
