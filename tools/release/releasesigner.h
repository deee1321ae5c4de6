#pragma once

#include <QByteArray>
#include <QString>

// What a publisher does with releases: make the Ed25519 key pair once, then sign each release's
// file (its SHA-256 digest). A secret key is kept as base64 of its 32-byte seed on one line, in a file
// only its owner may read; a public key as base64 of its 32 bytes on one line, the form the program
// is built with.
class ReleaseSigner {
public:
    struct KeyPair {
        QByteArray secretKey;
        QByteArray publicKey;
    };

    static KeyPair generate();
    // The public key that belongs to secretKey.
    static QByteArray publicKeyOf(const QByteArray& secretKey);
    // Writes the pair to two new files, the secret one readable and writable by its owner alone;
    // refuses to replace a file that is there. False with the reason in *error.
    static bool writeKeyPair(const KeyPair& pair, const QString& secretPath, const QString& publicPath, QString* error);
    // The secret key in the file at path; empty, with the reason in *error, when the file is not a
    // secret key or others may read it.
    static QByteArray readSecretKey(const QString& path, QString* error);

    // The signature of a file's digest (32 bytes) with secretKey.
    static QByteArray sign(const QByteArray& digest, const QByteArray& secretKey);
};
