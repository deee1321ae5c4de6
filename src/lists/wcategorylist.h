#pragma once

#include "shell/wbasewidget.h"

// Not built yet: the category list page says so.
class WCategoryList : public WBaseWidget {
    Q_OBJECT

public:
    explicit WCategoryList(QWidget* parent = nullptr);

private slots:
    void bind() override;
};
