#include "passwordcache.h"

#include <QDeadlineTimer>
#include <QMutexLocker>
#include <sodium.h>

namespace {

qint64 nowMs()
{
    // A monotonic clock: setting the computer's clock back does not make an entry live longer.
    return QDeadlineTimer::current().deadline();
}

} // namespace

PasswordCache::PasswordCache(int lifetimeSeconds, int maxEntries)
    : lifetimeMs(qint64(qMax(0, lifetimeSeconds)) * 1000)
    , maxEntries(qMax(1, maxEntries))
    , secret(crypto_generichash_KEYBYTES, Qt::Uninitialized)
{
    if (sodium_init() < 0)
        qFatal("libsodium could not be initialised");
    randombytes_buf(secret.data(), size_t(secret.size()));
}

QByteArray PasswordCache::keyOf(const QString& name, const QString& password) const
{
    // The name's length first, so that no other split of the same bytes gives the same key.
    const QByteArray nameBytes = name.toUtf8();
    const QByteArray passwordBytes = password.toUtf8();
    const quint64 nameLength = quint64(nameBytes.size());
    crypto_generichash_state state;
    crypto_generichash_init(&state, reinterpret_cast<const unsigned char*>(secret.constData()), size_t(secret.size()),
        crypto_generichash_BYTES);
    crypto_generichash_update(&state, reinterpret_cast<const unsigned char*>(&nameLength), sizeof nameLength);
    crypto_generichash_update(
        &state, reinterpret_cast<const unsigned char*>(nameBytes.constData()), size_t(nameBytes.size()));
    crypto_generichash_update(
        &state, reinterpret_cast<const unsigned char*>(passwordBytes.constData()), size_t(passwordBytes.size()));
    QByteArray key(crypto_generichash_BYTES, Qt::Uninitialized);
    crypto_generichash_final(&state, reinterpret_cast<unsigned char*>(key.data()), size_t(key.size()));
    return key;
}

void PasswordCache::dropExpired(qint64 now)
{
    while (!order.empty() && order.front().second <= now) {
        const auto found = entries.constFind(order.front().first);
        // A key remembered again later has a later time of its own, further back in the order.
        if (found != entries.constEnd() && found->expires == order.front().second)
            entries.erase(found);
        order.pop_front();
    }
}

bool PasswordCache::find(const QString& name, const QString& password, qint64* account, QString* userId)
{
    if (lifetimeMs == 0)
        return false;
    const QByteArray key = keyOf(name, password);
    const QMutexLocker lock(&mutex);
    const qint64 now = nowMs();
    dropExpired(now);
    const auto found = entries.constFind(key);
    if (found == entries.constEnd())
        return false;
    *account = found->account;
    *userId = found->userId;
    return true;
}

void PasswordCache::remember(const QString& name, const QString& password, qint64 account, const QString& userId)
{
    if (lifetimeMs == 0)
        return;
    const QByteArray key = keyOf(name, password);
    const QMutexLocker lock(&mutex);
    const qint64 now = nowMs();
    dropExpired(now);
    while (entries.size() >= maxEntries && !order.empty()) {
        const auto oldest = entries.constFind(order.front().first);
        if (oldest != entries.constEnd() && oldest->expires == order.front().second)
            entries.erase(oldest);
        order.pop_front();
    }
    const qint64 expires = now + lifetimeMs;
    entries.insert(key, Entry { account, userId, expires });
    order.emplace_back(key, expires);
}
