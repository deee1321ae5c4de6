#pragma once

#include "shell/common/dmessagebox.h"

// Not built yet: the sync account dialog tells the user so.
class DSyncConfig : public DMessageBox
{
    Q_OBJECT

public:
    explicit DSyncConfig(QWidget* parent = nullptr);
};
