#include "lists/waccountlist.h"

#include "shell/common/notavailable.h"

WAccountList::WAccountList(QWidget* parent)
    : WBaseWidget(parent)
{
    showNotAvailable(this, tr("账户列表"));
}

void WAccountList::bind()
{
}
