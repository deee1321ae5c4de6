#include "lists/wmemberlist.h"

#include "shell/common/notavailable.h"

WMemberList::WMemberList(QWidget* parent)
    : WBaseWidget(parent)
{
    showNotAvailable(this, tr("成员管理"));
}

void WMemberList::bind()
{
}
