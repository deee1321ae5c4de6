#pragma once

#include <QLabel>
#include <QStringList>

// A one-line label of items separated by blanks (a summary: "本月  支出:-12.50 收入:300.00 变化:+287.50")
// that gives up width when its row is short of room. It then leaves out whole items from the end,
// "…" in their place, but keeps its first item (what the line is about) and its last (the key
// figure, such as the change of a month): an item is shown whole or not at all, so that no figure
// is ever cut. Its tooltip is the whole text while part of it is left out; text() stays the whole
// text.
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
    // The text with the items after the first `kept` left out (but the last), "…" in their place.
    QString shortened(int kept) const;
    // Where each item ends in the text; the items lie between runs of blanks.
    QList<qsizetype> itemEnds() const;
};
