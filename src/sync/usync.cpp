#include "sync/usync.h"

#include "shell/common/notavailable.h"

USync::USync(QWidget* parent)
    : QWidget(parent)
{
    showNotAvailable(this, tr("数据同步"));
}
