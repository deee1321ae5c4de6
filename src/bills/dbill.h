#pragma once

#include "shell/common/dmessagebox.h"

// Not built yet: the bill dialog tells the user so.
class DBill : public DMessageBox
{
    Q_OBJECT

public:
    explicit DBill(QWidget* parent = nullptr);
};
