#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Turns the bytes of a statement file into text: the encoding found from its byte-order mark, from
// its being valid UTF-8, or by uchardet's guess (GB18030 and GBK statements carry no mark), or the
// one the user chose. Refuses what is no text: an empty file, a binary one, one whose encoding
// cannot be found or whose bytes do not decode in the chosen one.
class TextDecoder {
public:
    struct Result {
        bool ok = false;
        QString text;
        // The encoding used, as offered by encodings() where it is one of them.
        QString encoding;
        // Why the bytes gave no text, for the user.
        QString error;
    };

    // The encodings a user may choose: UTF-8, GB18030 (GBK and GB2312 are subsets), UTF-16LE, UTF-16BE.
    static QStringList encodings();
    // The encoding of bytes, or empty when it cannot be told.
    static QString detect(const QByteArray& bytes);
    // Decodes bytes in encoding, or in the detected one when encoding is empty. A byte-order mark is
    // dropped.
    static Result decode(const QByteArray& bytes, const QString& encoding = QString());

private:
    static bool looksBinary(const QByteArray& bytes);
};
