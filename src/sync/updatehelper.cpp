#include "sync/updatehelper.h"

UpdateHelper::UpdateHelper(QObject* parent, bool offer)
    : QObject(parent)
    , offerUpdate(offer)
{
}

void UpdateHelper::checkVersion()
{
}
