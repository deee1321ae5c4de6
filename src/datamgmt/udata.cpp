#include "datamgmt/udata.h"

#include "shell/common/notavailable.h"

UData::UData(QWidget* parent)
    : QWidget(parent)
{
    showNotAvailable(this, tr("数据管理"));
}
