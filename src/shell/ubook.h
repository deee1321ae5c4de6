#pragma once

#include <QWidget>

class WBaseWidget;

namespace Ui {
class UBook;
}

// The book page: the page menu on the left and the ten content pages (bill list, reference lists,
// analyses) on the right.
class UBook : public QWidget
{
    Q_OBJECT

public:
    explicit UBook(QWidget* parent = nullptr);
    ~UBook() override;

    // Shows the container named "pg" + key; an unknown key changes nothing.
    void switchPage(const QString& key);
    // The content page of the container shown now.
    WBaseWidget* currentWidget() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Ui::UBook* ui;
};
