#include "sync/dfeedback.h"

#include "shell/common/notavailable.h"

DFeedback::DFeedback(QWidget* parent)
    : DMessageBox(parent, tr("留言反馈"), notAvailableText(tr("留言反馈")))
{
}
