#pragma once

#include <QWidget>

// Not built yet: the synchronisation page says so.
class USync : public QWidget
{
    Q_OBJECT

public:
    explicit USync(QWidget* parent = nullptr);
};
