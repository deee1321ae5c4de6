#pragma once

#include "shell/wbasewidget.h"

// Not built yet: the member list page says so.
class WMemberList : public WBaseWidget {
    Q_OBJECT

public:
    explicit WMemberList(QWidget* parent = nullptr);

private slots:
    void bind() override;
};
