#pragma once

#include <QByteArray>
#include <QString>

// A release's signature: plain Ed25519 over the 32 bytes of its file's SHA-256 digest (so that the
// file can be hashed as it arrives), made with the publisher's secret key. The update record
// carries it in base64; public keys travel as base64 of their 32 bytes on one line.
class ReleaseSignature {
public:
    // The 64 bytes of a signature given in base64; empty when the text is anything else.
    static QByteArray fromBase64(const QString& text);
    // The 32 bytes of a public key given in base64 on one line; empty when the text is anything else.
    static QByteArray publicKeyFromBase64(const QString& text);

    // True when signature is publicKey's signature of digest.
    static bool verify(const QByteArray& digest, const QByteArray& signature, const QByteArray& publicKey);
    // True when signature is the built-in release key's signature of digest.
    static bool verify(const QByteArray& digest, const QByteArray& signature);

    static const int bytes;
    static const int publicKeyBytes;
};
