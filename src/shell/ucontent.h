#pragma once

#include <QWidget>

namespace Ui {
class UContent;
}

// The main window's page area: the book, sync, data and settings pages, one shown at a time.
class UContent : public QWidget
{
    Q_OBJECT

public:
    explicit UContent(QWidget* parent = nullptr);
    ~UContent() override;

    // Shows the page whose container is named "pg" + name; an unknown name changes nothing.
    void switchPage(const QString& name);
    QWidget* currentWidget() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Ui::UContent* ui;
};
