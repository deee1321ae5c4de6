#pragma once

#include "shell/common/dmessagebox.h"

// Not built yet: the synchronisation dialog tells the user so.
class DSync : public DMessageBox
{
    Q_OBJECT

public:
    explicit DSync(QWidget* parent = nullptr);
};
