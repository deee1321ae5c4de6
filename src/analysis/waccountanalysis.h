#pragma once

#include "shell/common/wbasewidget.h"

// Not built yet: the account analysis page says so.
class WAccountAnalysis : public WBaseWidget {
    Q_OBJECT

public:
    explicit WAccountAnalysis(QWidget* parent = nullptr);
};
