#include "datamgmt/usetting.h"

#include "shell/common/notavailable.h"

USetting::USetting(QWidget* parent)
    : QWidget(parent)
{
    showNotAvailable(this, tr("系统设置"));
}
