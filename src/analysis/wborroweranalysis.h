#pragma once

#include "shell/common/wbasewidget.h"

// Not built yet: the borrower analysis page says so.
class WBorrowerAnalysis : public WBaseWidget {
    Q_OBJECT

public:
    explicit WBorrowerAnalysis(QWidget* parent = nullptr);
};
