#include "data/enteredtext.h"

QString enteredText(const QString& text)
{
    const qsizetype size = text.size();
    qsizetype i = 0;
    // Most text has nothing to drop: hand it back as it is, null or not.
    while (i < size && !text.at(i).isNull() && !text.at(i).isSurrogate())
        ++i;
    if (i == size)
        return text;

    QString kept = text.left(i);
    for (; i < size; ++i) {
        const QChar c = text.at(i);
        if (c.isNull())
            continue;
        if (c.isHighSurrogate() && i + 1 < size && text.at(i + 1).isLowSurrogate()) {
            kept += c;
            kept += text.at(++i);
        } else if (!c.isSurrogate()) {
            kept += c;
        }
    }
    return kept;
}
