#include "analysis/wborroweranalysis.h"

#include "shell/common/notavailable.h"

WBorrowerAnalysis::WBorrowerAnalysis(QWidget* parent)
    : WBaseWidget(parent)
{
    showNotAvailable(this, tr("借款人分析"));
}
