#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

// The fields of an application/x-www-form-urlencoded body, found without decoding them: a request
// is read field by field, and only the fields asked for are decoded. A change set of many
// megabytes is never decoded for a request whose password turns out wrong, and decoded once, into
// one byte array, for one whose password is right.
class FormBody {
public:
    // Where a field's value lies in the body, still encoded.
    struct Range {
        qsizetype start = -1;
        qsizetype size = 0;
        bool isValid() const { return start >= 0; }
    };

    // Finds the first field of each of names in body (which the caller keeps alive while this is
    // used), in one pass that ends once all are found; nothing else of the body is kept, so a body of
    // a million fields costs no more memory than one of a few.
    FormBody(const QByteArray& body, QList<const char*> names);

    // The first field named name (one of the names given, exactly, after decoding), or an invalid range.
    Range find(const char* name) const;
    // The first field named name, decoded as UTF-8 text; empty when it is missing, and when it is
    // longer than maxBytes encoded (*tooLong is then true): no account name, password or time is
    // that long, and a request that says otherwise is not worth decoding.
    QString text(const char* name, qsizetype maxBytes, bool* tooLong = nullptr) const;
    // The value at range, decoded into one byte array (a space for "+", the byte for "%XX").
    QByteArray bytes(Range range) const;

    // The fields of body in order, for a log: names and values as text, those longer than
    // maxValueBytes encoded as their encoded size, at most maxFields of them.
    static QList<QPair<QString, QString>> forLog(const QByteArray& body, qsizetype maxValueBytes, int maxFields);

    // The first field named name, without indexing the rest of the body: the queue a request joins
    // is chosen on the thread that receives it, before anything else is read.
    static QString firstText(const QByteArray& body, const char* name, qsizetype maxBytes);
    // Decodes size bytes at encoded as a form value.
    static QByteArray decode(const char* encoded, qsizetype size);

private:
    // Whether the name at range is name once decoded; long names are compared without decoding.
    static bool nameIs(const QByteArray& body, Range range, const char* name);

    const QByteArray& body;
    QList<const char*> names;
    QList<Range> values;
};
