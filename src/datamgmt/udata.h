#pragma once

#include <QWidget>

// Not built yet: the data page says so.
class UData : public QWidget
{
    Q_OBJECT

public:
    explicit UData(QWidget* parent = nullptr);
};
