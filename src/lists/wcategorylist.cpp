#include "lists/wcategorylist.h"

#include "shell/common/notavailable.h"

WCategoryList::WCategoryList(QWidget* parent)
    : WBaseWidget(parent)
{
    showNotAvailable(this, tr("分类列表"));
}

void WCategoryList::bind()
{
}
