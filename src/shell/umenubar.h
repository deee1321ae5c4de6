#pragma once

#include <QWidget>

class UBook;

namespace Ui {
class UMenuBar;
}

// The book page's menu: the new-bill button and one button per content page. A page button's
// object name is a two-letter prefix followed by the page's key.
class UMenuBar : public QWidget
{
    Q_OBJECT

public:
    explicit UMenuBar(QWidget* parent = nullptr);
    ~UMenuBar() override;

protected:
    void paintEvent(QPaintEvent* event) override;

private slots:
    void onNewBillButtonClicked();
    void onToolButtonClicked();

private:
    Ui::UMenuBar* ui;
    UBook* bookPage;
};
