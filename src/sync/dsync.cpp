#include "sync/dsync.h"

#include "shell/common/notavailable.h"

DSync::DSync(QWidget* parent)
    : DMessageBox(parent, tr("数据同步"), notAvailableText(tr("数据同步")))
{
}
