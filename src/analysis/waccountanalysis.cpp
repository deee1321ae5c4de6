#include "analysis/waccountanalysis.h"

#include "shell/common/notavailable.h"

WAccountAnalysis::WAccountAnalysis(QWidget* parent)
    : WBaseWidget(parent)
{
    showNotAvailable(this, tr("账户分析"));
}
