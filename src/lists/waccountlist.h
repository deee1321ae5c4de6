#pragma once

#include "shell/wbasewidget.h"

// Not built yet: the account list page says so.
class WAccountList : public WBaseWidget {
    Q_OBJECT

public:
    explicit WAccountList(QWidget* parent = nullptr);

private slots:
    void bind() override;
};
