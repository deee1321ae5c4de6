#pragma once

#include "shell/wbasewidget.h"

// Not built yet: the bill list page says so.
class WBillList : public WBaseWidget
{
    Q_OBJECT

public:
    explicit WBillList(QWidget* parent = nullptr);

private slots:
    void bind() override;
};
