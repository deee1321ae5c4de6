#pragma once

#include <QLabel>

// A one-line label that gives up width when its row is short of room. It then keeps its last word
// (a summary's key figure, such as the change of a month) whole and shortens what comes before it
// with "…"; its tooltip is the whole text. text() stays the whole text.
class WElidedLabel : public QLabel
{
    Q_OBJECT

public:
    explicit WElidedLabel(QWidget* parent = nullptr);

    QSize minimumSizeHint() const override;
    // The text as it is drawn in the label's present width.
    QString shownText() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;

private:
    // The last word, with the blank before it; empty when the text has no blank.
    QString lastWord() const;
};
