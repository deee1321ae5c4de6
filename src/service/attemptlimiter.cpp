#include "attemptlimiter.h"

#include <QMutexLocker>

AttemptLimiter::AttemptLimiter(int windowMs, int maxKeys)
    : windowMs(windowMs)
    , maxKeys(maxKeys)
{
    clock.start();
}

int AttemptLimiter::count(const QString& key)
{
    QMutexLocker lock(&mutex);
    const auto found = windows.constFind(key);
    if (found == windows.constEnd() || clock.elapsed() - found->startMs >= windowMs)
        return 0;
    return found->count;
}

void AttemptLimiter::add(const QString& key)
{
    QMutexLocker lock(&mutex);
    const qint64 now = clock.elapsed();
    auto found = windows.find(key);
    if (found == windows.end()) {
        if (windows.size() >= maxKeys) {
            windows.removeIf([&](const auto& entry) { return now - entry.value().startMs >= windowMs; });
            if (windows.size() >= maxKeys)
                windows.clear();
        }
        found = windows.insert(key, Window { now, 0 });
    } else if (now - found->startMs >= windowMs) {
        *found = Window { now, 0 };
    }
    ++found->count;
}
