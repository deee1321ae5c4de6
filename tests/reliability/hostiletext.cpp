#include "hostiletext.h"

#include <QTest>

namespace HostileText {

QString longText()
{
    // Every character a hostile one or a CJK one, cut to exactly 10,000 UTF-16 units without
    // cutting a character in two.
    const QString unit = QString::fromUtf8("长'\"%_\\<b>&amp;</td>\n");
    QString text;
    while (text.size() < 10000)
        text += unit;
    text.truncate(10000);
    return text;
}

const QList<Entry>& all()
{
    static const QList<Entry> entries = {
        { "quote", QStringLiteral("'") },
        { "double quote", QStringLiteral("\"") },
        { "percent", QStringLiteral("%") },
        { "underscore", QStringLiteral("_") },
        { "backslash", QStringLiteral("\\") },
        { "script", QStringLiteral("<script>alert(1)</script>") },
        { "end of cell", QStringLiteral("</td>") },
        { "injection", QStringLiteral("' or 1=1 --") },
        { "line feed", QString::fromUtf8("第一行\n第二行") },
        { "CR LF", QString::fromUtf8("第一行\r\n第二行") },
        { "line separator", QString::fromUtf8("前\u2028后") },
        { "emoji", QString::fromUtf8("😀 家👨‍👩‍👧") },
        { "10000 characters", longText() },
        { "entities and markers", QStringLiteral("&amp; &lt;b&gt; %1 #data# #title# {base} \\x3c") },
        { "everything",
            QString::fromUtf8("O'Brien \"100%\" a_b C:\\x <script>alert(1)</script></td>"
                              "' or 1=1 --\r\n第二行\n\u2028😀") },
    };
    return entries;
}

void addRows()
{
    QTest::addColumn<QString>("text");
    for (const Entry& entry : all())
        QTest::newRow(entry.name) << entry.text;
}

QString htmlNewlines(const QString& text)
{
    QString normal = text;
    normal.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    normal.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return normal;
}

QString flowing(const QString& text)
{
    QString normal = htmlNewlines(text);
    normal.replace(QChar(QChar::LineSeparator), QLatin1Char(' '));
    return normal.simplified();
}

QString likeFolded(const QString& text)
{
    QString folded = text;
    for (QChar& c : folded) {
        if (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
            c = QChar(c.unicode() + 32);
    }
    return folded;
}

} // namespace HostileText
