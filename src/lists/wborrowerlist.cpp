#include "lists/wborrowerlist.h"

#include "shell/common/notavailable.h"

WBorrowerList::WBorrowerList(QWidget* parent)
    : WBaseWidget(parent)
{
    showNotAvailable(this, tr("借款人"));
}

void WBorrowerList::bind()
{
}
