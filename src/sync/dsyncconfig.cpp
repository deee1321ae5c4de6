#include "sync/dsyncconfig.h"

#include "shell/common/notavailable.h"

DSyncConfig::DSyncConfig(QWidget* parent)
    : DMessageBox(parent, tr("同步账号"), notAvailableText(tr("数据同步")))
{
}
