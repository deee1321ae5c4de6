#pragma once

#include <QLabel>

// A one-line label that gives up width when its row is short of room: it then shows the start of
// its text with "…" and the whole text as its tooltip. text() stays the whole text.
class WElidedLabel : public QLabel
{
    Q_OBJECT

public:
    explicit WElidedLabel(QWidget* parent = nullptr);

    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;
};
