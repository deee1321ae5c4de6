#pragma once

#include "shell/common/wbasewidget.h"

// Not built yet: the category analysis page says so.
class WCategoryAnalysis : public WBaseWidget {
    Q_OBJECT

public:
    explicit WCategoryAnalysis(QWidget* parent = nullptr);
};
