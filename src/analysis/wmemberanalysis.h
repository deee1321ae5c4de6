#pragma once

#include "shell/common/wbasewidget.h"

// Not built yet: the member analysis page says so.
class WMemberAnalysis : public WBaseWidget {
    Q_OBJECT

public:
    explicit WMemberAnalysis(QWidget* parent = nullptr);
};
