#pragma once

#include <QDateTime>
#include <QHash>
#include <QWidget>

namespace Ui {
class UStatusBar;
}

// The strip along the bottom of the main window: the state of the synchronisation with its link,
// the totals of the current month and the totals of what the bill list selects.
class UStatusBar : public QWidget
{
    Q_OBJECT

public:
    explicit UStatusBar(QWidget* parent = nullptr);
    ~UStatusBar() override;

    void setContent(QWidget* content);
    // The summary of the bills that satisfy condition: expense, income, the net loans when there
    // are any, and the change.
    static QString getSummary(const QString& condition);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool event(QEvent* event) override;

private slots:
    void syncFinished();
    void syncStarted();
    void syncError(int code, const QString& message);
    void clockWarning(qint64 seconds);
    void on_lblSync_linkActivated(const QString& link);
    void billDataChanged();
    void listConditionChanged(const QString& condition);

private:
    // Shows the synchronisation's state in lblSyncTime, always whole; synced is the time the state
    // names, if any.
    void showSyncState(const QString& text, const QDateTime& synced = QDateTime());
    // Fits the row into the bar's width: the figures come first, the date of the last
    // synchronisation gives way before any of them.
    void fitRow();
    // The row's width with the given widths of some of its widgets and every other item whole.
    int rowWidth(const QHash<const QWidget*, int>& widths) const;
    // The summary text of totals per kind.
    static QString summaryOf(const QHash<QString, double>& totals);

    Ui::UStatusBar* ui;
    QDateTime syncStartTime;
    QString syncState;
    QDateTime syncedAt;
    // The running synchronisation's word on the computer's clock, empty when it is right.
    qint64 clockOff = 0;
    // What the last finished run said of the clock, shown after its time.
    QString clockNote;
    QWidget* content = nullptr;
    QString condition;
};
