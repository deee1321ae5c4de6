#include "engine/releasesignature.h"

#include <sodium.h>

#include "engine/releasedigest.h"
#include "releasekey/releasekey.h"

const int ReleaseSignature::bytes = crypto_sign_BYTES;
const int ReleaseSignature::publicKeyBytes = crypto_sign_PUBLICKEYBYTES;

namespace {

// Exactly size bytes in base64 as an encoder writes it, surrounding white space (a file's final line
// break) aside.
QByteArray decodeBase64(const QString& text, int size)
{
    const QByteArray trimmed = text.trimmed().toLatin1();
    const auto decoded = QByteArray::fromBase64Encoding(trimmed, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.size() != size || decoded.decoded.toBase64() != trimmed)
        return QByteArray();
    return decoded.decoded;
}

} // namespace

QByteArray ReleaseSignature::fromBase64(const QString& text)
{
    return decodeBase64(text, bytes);
}

QByteArray ReleaseSignature::publicKeyFromBase64(const QString& text)
{
    return decodeBase64(text, publicKeyBytes);
}

bool ReleaseSignature::verify(const QByteArray& digest, const QByteArray& signature, const QByteArray& publicKey)
{
    if (sodium_init() < 0 || digest.size() != ReleaseDigest::bytes || signature.size() != bytes
        || publicKey.size() != publicKeyBytes)
        return false;
    return crypto_sign_verify_detached(reinterpret_cast<const unsigned char*>(signature.constData()),
               reinterpret_cast<const unsigned char*>(digest.constData()),
               static_cast<unsigned long long>(digest.size()),
               reinterpret_cast<const unsigned char*>(publicKey.constData()))
        == 0;
}

bool ReleaseSignature::verify(const QByteArray& digest, const QByteArray& signature)
{
    return verify(digest, signature, ReleaseKey::trusted());
}
