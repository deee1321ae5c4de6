#include "engine/releasedigest.h"

#include <QFile>
#include <QRegularExpression>

ReleaseDigest::ReleaseDigest()
{
    reset();
}

void ReleaseDigest::reset()
{
    crypto_hash_sha256_init(&state);
}

void ReleaseDigest::addData(const QByteArray& data)
{
    crypto_hash_sha256_update(
        &state, reinterpret_cast<const unsigned char*>(data.constData()), static_cast<unsigned long long>(data.size()));
}

QByteArray ReleaseDigest::result() const
{
    // The final step consumes its state: work on a copy, so that more may still be added.
    crypto_hash_sha256_state copy = state;
    QByteArray digest(bytes, '\0');
    crypto_hash_sha256_final(&copy, reinterpret_cast<unsigned char*>(digest.data()));
    return digest;
}

QByteArray ReleaseDigest::ofFile(const QString& path, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return QByteArray();
    }
    ReleaseDigest digest;
    while (!file.atEnd()) {
        const QByteArray piece = file.read(1 << 20);
        if (piece.isEmpty() && file.error() != QFileDevice::NoError) {
            *error = file.errorString();
            return QByteArray();
        }
        digest.addData(piece);
    }
    return digest.result();
}

QString ReleaseDigest::toHex(const QByteArray& digest)
{
    return QString::fromLatin1(digest.toHex());
}

QByteArray ReleaseDigest::fromHex(const QString& text)
{
    static const QRegularExpression hex(QStringLiteral("^[0-9A-Fa-f]{64}$"));
    if (!hex.match(text).hasMatch())
        return QByteArray();
    return QByteArray::fromHex(text.toLatin1());
}
