#include "sync/synchelper.h"

#include <QTimer>

#include "shell/common/notavailable.h"

SyncHelper::SyncHelper(QObject* parent)
    : QObject(parent)
{
}

SyncHelper* SyncHelper::getInstance()
{
    static SyncHelper* instance = new SyncHelper(nullptr);
    return instance;
}

void SyncHelper::sync()
{
    emit syncStarted();
    // Reported from the event loop, as a real failure would be.
    QTimer::singleShot(0, this, [this] { emit syncError(0, notAvailableText(tr("数据同步"))); });
}
