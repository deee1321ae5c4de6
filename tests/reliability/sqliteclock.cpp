#include "sqliteclock.h"

#include <atomic>
#include <sqlite3.h>

#include "data/dbsetting.h"
#include "engine/synchelper.h"

namespace {

sqlite3_vfs* systemVfs = nullptr;
sqlite3_vfs shiftedVfs;
std::atomic<qint64> offsetMs { 0 };

int currentTimeInt64(sqlite3_vfs*, sqlite3_int64* now)
{
    const int result = systemVfs->xCurrentTimeInt64(systemVfs, now);
    *now += offsetMs.load();
    return result;
}

int currentTime(sqlite3_vfs* vfs, double* now)
{
    sqlite3_int64 milliseconds = 0;
    const int result = currentTimeInt64(vfs, &milliseconds);
    *now = double(milliseconds) / 86400000.0;
    return result;
}

} // namespace

namespace SqliteClock {

bool install()
{
    if (systemVfs)
        return true;
    systemVfs = sqlite3_vfs_find(nullptr);
    if (!systemVfs || systemVfs->iVersion < 2 || !systemVfs->xCurrentTimeInt64)
        return false;
    shiftedVfs = *systemVfs;
    shiftedVfs.pNext = nullptr;
    shiftedVfs.zName = "quorvane-test-clock";
    shiftedVfs.xCurrentTime = currentTime;
    shiftedVfs.xCurrentTimeInt64 = currentTimeInt64;
    if (sqlite3_vfs_register(&shiftedVfs, 1) != SQLITE_OK)
        return false;
    SyncHelper::setClock(&now);
    return true;
}

QDateTime now()
{
    return QDateTime::currentDateTimeUtc().addMSecs(offsetMs.load());
}

void setOffset(qint64 ms)
{
    offsetMs.store(ms);
}

qint64 offset()
{
    return offsetMs.load();
}

QString tick()
{
    const QDateTime system = QDateTime::currentDateTimeUtc();
    const QDateTime shifted = system.addMSecs(offsetMs.load());
    QDateTime next = shifted.addSecs(1);
    next.setTime(QTime(next.time().hour(), next.time().minute(), next.time().second(), 500));
    offsetMs.store(system.msecsTo(next));
    return timestampToText(next);
}

} // namespace SqliteClock
