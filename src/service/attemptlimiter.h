#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QMutex>
#include <QString>

// Counts events per key (an address, an account name) in windows of a fixed length that start with
// a key's first event: how many wrong passwords an address sent this minute, say. At most maxKeys
// keys are kept; past that the ones whose window has passed are dropped, and when every one is
// still counting, all of them (so memory stays bounded whatever a client sends). Safe to use from
// several threads at once.
class AttemptLimiter {
public:
    AttemptLimiter(int windowMs, int maxKeys);

    // The events of key in its current window.
    int count(const QString& key);
    void add(const QString& key);

private:
    struct Window {
        qint64 startMs = 0;
        int count = 0;
    };

    const qint64 windowMs;
    const int maxKeys;
    QElapsedTimer clock;
    QMutex mutex;
    QHash<QString, Window> windows;
};
