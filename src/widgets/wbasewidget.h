#pragma once

#include <QWidget>

// Base of the content pages of the book page: a page reloads everything it shows in bind(), and
// bind() runs every time the page is shown.
class WBaseWidget : public QWidget
{
    Q_OBJECT

public:
    explicit WBaseWidget(QWidget* parent = nullptr);

public slots:
    virtual void bind();

protected:
    void showEvent(QShowEvent* event) override;
};
