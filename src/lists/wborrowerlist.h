#pragma once

#include "shell/wbasewidget.h"

// Not built yet: the borrower list page says so.
class WBorrowerList : public WBaseWidget {
    Q_OBJECT

public:
    explicit WBorrowerList(QWidget* parent = nullptr);

private slots:
    void bind() override;
};
