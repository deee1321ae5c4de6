#include "formbody.h"

#include <cstring>
#include <utility>

namespace {

// The value of a hex digit, or -1.
int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Calls visit(name, value) for every field of body, in order, until it returns false.
template <typename Visit>
void forEachField(const QByteArray& body, Visit visit)
{
    const char* const data = body.constData();
    const qsizetype size = body.size();
    qsizetype start = 0;
    while (start < size) {
        const void* amp = std::memchr(data + start, '&', size_t(size - start));
        const qsizetype end = amp ? static_cast<const char*>(amp) - data : size;
        if (end > start) {
            const void* equals = std::memchr(data + start, '=', size_t(end - start));
            FormBody::Range name;
            FormBody::Range value;
            name.start = start;
            if (equals) {
                const qsizetype at = static_cast<const char*>(equals) - data;
                name.size = at - start;
                value.start = at + 1;
                value.size = end - at - 1;
            } else {
                name.size = end - start;
                value.start = end;
            }
            if (!visit(name, value))
                return;
        }
        start = end + 1;
    }
}

} // namespace

FormBody::FormBody(const QByteArray& body, QList<const char*> wanted)
    : body(body)
    , names(std::move(wanted))
    , values(names.size())
{
    qsizetype missing = names.size();
    forEachField(body, [&](Range name, Range value) {
        for (qsizetype i = 0; i < names.size(); ++i) {
            if (!values.at(i).isValid() && nameIs(body, name, names.at(i))) {
                values[i] = value;
                --missing;
                break;
            }
        }
        return missing > 0;
    });
}

QByteArray FormBody::decode(const char* encoded, qsizetype size)
{
    QByteArray decoded(size, Qt::Uninitialized);
    char* out = decoded.data();
    qsizetype written = 0;
    for (qsizetype i = 0; i < size; ++i) {
        const char c = encoded[i];
        if (c == '+') {
            out[written++] = ' ';
        } else if (c == '%' && i + 2 < size && hexValue(encoded[i + 1]) >= 0 && hexValue(encoded[i + 2]) >= 0) {
            out[written++] = char(hexValue(encoded[i + 1]) * 16 + hexValue(encoded[i + 2]));
            i += 2;
        } else {
            // A stray "%" stays as it is, as a browser leaves it.
            out[written++] = c;
        }
    }
    decoded.truncate(written);
    // Gives back what the escapes took, without copying (the allocator shrinks a large block in place).
    if (decoded.capacity() - written > 4096)
        decoded.squeeze();
    return decoded;
}

bool FormBody::nameIs(const QByteArray& body, Range range, const char* name)
{
    const qsizetype length = qsizetype(std::strlen(name));
    // An encoded name is at most three bytes for each of its own.
    if (range.size < length || range.size > 3 * length)
        return false;
    const char* const start = body.constData() + range.start;
    if (range.size == length && std::memcmp(start, name, size_t(length)) == 0)
        return true;
    return decode(start, range.size) == QByteArray::fromRawData(name, length);
}

FormBody::Range FormBody::find(const char* name) const
{
    for (qsizetype i = 0; i < names.size(); ++i) {
        if (std::strcmp(names.at(i), name) == 0)
            return values.at(i);
    }
    return Range();
}

QString FormBody::text(const char* name, qsizetype maxBytes, bool* tooLong) const
{
    const Range value = find(name);
    if (tooLong)
        *tooLong = value.size > maxBytes;
    if (!value.isValid() || value.size > maxBytes)
        return QString();
    return QString::fromUtf8(bytes(value));
}

QByteArray FormBody::bytes(Range range) const
{
    if (!range.isValid())
        return QByteArray();
    return decode(body.constData() + range.start, range.size);
}

QList<QPair<QString, QString>> FormBody::forLog(const QByteArray& body, qsizetype maxValueBytes, int maxFields)
{
    const auto text = [&](Range range) {
        return range.size > maxValueBytes ? QStringLiteral("[%1 bytes]").arg(range.size)
                                          : QString::fromUtf8(decode(body.constData() + range.start, range.size));
    };
    QList<QPair<QString, QString>> logged;
    forEachField(body, [&](Range name, Range value) {
        if (logged.size() == maxFields) {
            logged.append({ QStringLiteral("..."), QStringLiteral("[more fields]") });
            return false;
        }
        logged.append({ text(name), text(value) });
        return true;
    });
    return logged;
}

QString FormBody::firstText(const QByteArray& body, const char* name, qsizetype maxBytes)
{
    QString found;
    forEachField(body, [&](Range fieldName, Range value) {
        if (!nameIs(body, fieldName, name))
            return true;
        if (value.size <= maxBytes)
            found = QString::fromUtf8(decode(body.constData() + value.start, value.size));
        return false;
    });
    return found;
}
