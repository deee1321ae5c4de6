#include "bills/wbilllist.h"

#include "shell/common/notavailable.h"

WBillList::WBillList(QWidget* parent)
    : WBaseWidget(parent)
{
    showNotAvailable(this, tr("账目列表"));
}

void WBillList::bind()
{
}
