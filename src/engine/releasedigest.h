#pragma once

#include <QByteArray>
#include <QString>
#include <sodium.h>

// The SHA-256 digest of a release's file, taken piece by piece as the file arrives, so that the
// download is checked without being read again or held whole.
class ReleaseDigest {
public:
    ReleaseDigest();

    // Starts over, as for a new file.
    void reset();
    void addData(const QByteArray& bytes);
    // The 32 bytes of the digest of everything added since the last reset.
    QByteArray result() const;

    // The digest of the file at path; empty, with the reason in *error, when it cannot be read.
    static QByteArray ofFile(const QString& path, QString* error);

    // The digest's bytes as the update record writes them: 64 lower-case hex digits.
    static QString toHex(const QByteArray& digest);
    // The 32 bytes of a text of 64 hex digits; empty when the text is anything else.
    static QByteArray fromHex(const QString& text);

    static constexpr int bytes = crypto_hash_sha256_BYTES;

private:
    crypto_hash_sha256_state state;
};
