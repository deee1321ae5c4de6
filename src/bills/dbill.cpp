#include "bills/dbill.h"

#include "shell/common/notavailable.h"

DBill::DBill(QWidget* parent)
    : DMessageBox(parent, tr("记一笔"), notAvailableText(tr("记账")))
{
}
