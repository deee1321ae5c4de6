#pragma once

#include <QByteArray>
#include <QHash>
#include <QMutex>
#include <QString>
#include <deque>

// Accounts whose password was verified a short while ago, so that a device syncing again soon
// after is not charged the salted hash a second time. An entry is found by a keyed hash of the name
// and password (a key of this process alone, made at random), so neither the password nor anything
// that would let one test guesses against it offline is kept. A wrong password is never remembered,
// an entry is forgotten after its lifetime, and at most maxEntries are kept (the oldest go first).
// Safe to use from several threads at once.
class PasswordCache {
public:
    // lifetimeSeconds 0: nothing is remembered.
    PasswordCache(int lifetimeSeconds, int maxEntries);

    // The account and user id of name, when this password was verified for it within the lifetime.
    bool find(const QString& name, const QString& password, qint64* account, QString* userId);
    // Remembers a (name, password) that the store has just verified.
    void remember(const QString& name, const QString& password, qint64 account, const QString& userId);

private:
    struct Entry {
        qint64 account = 0;
        QString userId;
        qint64 expires = 0;
    };
    QByteArray keyOf(const QString& name, const QString& password) const;
    void dropExpired(qint64 now);

    const qint64 lifetimeMs;
    const int maxEntries;
    QByteArray secret;
    QMutex mutex;
    QHash<QByteArray, Entry> entries;
    // Keys in the order they were remembered, which is the order they expire in, with that time.
    std::deque<std::pair<QByteArray, qint64>> order;
};
