#pragma once

#include "shell/common/wbasewidget.h"

// Not built yet: the yearly and monthly statistics page says so.
class WBillStat : public WBaseWidget {
    Q_OBJECT

public:
    explicit WBillStat(QWidget* parent = nullptr);
};
