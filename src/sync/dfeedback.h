#pragma once

#include "shell/common/dmessagebox.h"

// Not built yet: the feedback form tells the user so.
class DFeedback : public DMessageBox
{
    Q_OBJECT

public:
    explicit DFeedback(QWidget* parent = nullptr);
};
