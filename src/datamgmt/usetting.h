#pragma once

#include <QWidget>

// Not built yet: the settings page says so.
class USetting : public QWidget
{
    Q_OBJECT

public:
    explicit USetting(QWidget* parent = nullptr);
};
