#include "analysis/wmemberanalysis.h"

#include "shell/common/notavailable.h"

WMemberAnalysis::WMemberAnalysis(QWidget* parent)
    : WBaseWidget(parent)
{
    showNotAvailable(this, tr("成员分析"));
}
