#include "releasesigner.h"

#include <QFile>
#include <QFileInfo>
#include <sodium.h>

#include "engine/releasedigest.h"
#include "engine/releasesignature.h"

namespace {

const QFileDevice::Permissions ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

// The secret key's seed and the 64-byte form libsodium signs with, wiped when done.
class ExpandedKey {
public:
    explicit ExpandedKey(const QByteArray& seed)
    {
        crypto_sign_seed_keypair(publicKey, secretKey, reinterpret_cast<const unsigned char*>(seed.constData()));
    }
    ~ExpandedKey() { sodium_memzero(secretKey, sizeof secretKey); }
    ExpandedKey(const ExpandedKey&) = delete;
    ExpandedKey& operator=(const ExpandedKey&) = delete;

    unsigned char publicKey[crypto_sign_PUBLICKEYBYTES];
    unsigned char secretKey[crypto_sign_SECRETKEYBYTES];
};

bool writeNewFile(const QString& path, const QByteArray& text, QFileDevice::Permissions permissions, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly, permissions)) {
        *error = path + QStringLiteral(": ") + file.errorString();
        return false;
    }
    if (file.write(text) != text.size() || !file.flush()) {
        *error = path + QStringLiteral(": ") + file.errorString();
        file.close();
        file.remove();
        return false;
    }
    return true;
}

} // namespace

ReleaseSigner::KeyPair ReleaseSigner::generate()
{
    KeyPair pair;
    if (sodium_init() < 0)
        return pair;
    pair.secretKey.resize(crypto_sign_SEEDBYTES);
    randombytes_buf(pair.secretKey.data(), size_t(pair.secretKey.size()));
    pair.publicKey = publicKeyOf(pair.secretKey);
    return pair;
}

QByteArray ReleaseSigner::publicKeyOf(const QByteArray& secretKey)
{
    if (secretKey.size() != crypto_sign_SEEDBYTES || sodium_init() < 0)
        return QByteArray();
    const ExpandedKey key(secretKey);
    return QByteArray(reinterpret_cast<const char*>(key.publicKey), sizeof key.publicKey);
}

bool ReleaseSigner::writeKeyPair(
    const KeyPair& pair, const QString& secretPath, const QString& publicPath, QString* error)
{
    if (pair.secretKey.size() != crypto_sign_SEEDBYTES || pair.publicKey.size() != ReleaseSignature::publicKeyBytes) {
        *error = QStringLiteral("no key pair could be made");
        return false;
    }
    if (QFileInfo::exists(publicPath)) {
        *error = publicPath + QStringLiteral(": a file of that name is there");
        return false;
    }
    if (!writeNewFile(secretPath, pair.secretKey.toBase64() + '\n', ownerOnly, error))
        return false;
    if (!writeNewFile(publicPath, pair.publicKey.toBase64() + '\n',
            ownerOnly | QFileDevice::ReadGroup | QFileDevice::ReadOther, error)) {
        QFile::remove(secretPath);
        return false;
    }
    return true;
}

QByteArray ReleaseSigner::readSecretKey(const QString& path, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = path + QStringLiteral(": ") + file.errorString();
        return QByteArray();
    }
    const QFileDevice::Permissions others
        = QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ReadOther | QFileDevice::WriteOther;
    if (file.permissions() & others) {
        *error = path
            + QStringLiteral(": others may read or change this secret key; make it the owner's alone (chmod 600)");
        return QByteArray();
    }
    // A seed has the size of a public key: the same one-line base64 form.
    const QByteArray key = ReleaseSignature::publicKeyFromBase64(QString::fromLatin1(file.read(4096)));
    if (key.size() != crypto_sign_SEEDBYTES)
        *error = path + QStringLiteral(": not a secret key (base64 of 32 bytes on one line)");
    return key;
}

QByteArray ReleaseSigner::sign(const QByteArray& digest, const QByteArray& secretKey)
{
    if (digest.size() != ReleaseDigest::bytes || secretKey.size() != crypto_sign_SEEDBYTES || sodium_init() < 0)
        return QByteArray();
    const ExpandedKey key(secretKey);
    QByteArray signature(crypto_sign_BYTES, '\0');
    crypto_sign_detached(reinterpret_cast<unsigned char*>(signature.data()), nullptr,
        reinterpret_cast<const unsigned char*>(digest.constData()), static_cast<unsigned long long>(digest.size()),
        key.secretKey);
    return signature;
}
