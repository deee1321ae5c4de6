#pragma once

#include <QWidget>

class UContent;

namespace Ui {
class UHeader;
}

// The header of the main window: the title bar above the tool bar.
class UHeader : public QWidget
{
    Q_OBJECT

public:
    explicit UHeader(QWidget* parent = nullptr);
    ~UHeader() override;

    void setContent(UContent* content);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Ui::UHeader* ui;
};
