#include "analysis/wbillstat.h"

#include "shell/common/notavailable.h"

WBillStat::WBillStat(QWidget* parent)
    : WBaseWidget(parent)
{
    showNotAvailable(this, tr("账目汇总"));
}
