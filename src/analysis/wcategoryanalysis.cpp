#include "analysis/wcategoryanalysis.h"

#include "shell/common/notavailable.h"

WCategoryAnalysis::WCategoryAnalysis(QWidget* parent)
    : WBaseWidget(parent)
{
    showNotAvailable(this, tr("分类分析"));
}
