#include "shell/ustatusbar.h"

#include <algorithm>

#include <QBoxLayout>
#include <QDate>
#include <QEvent>
#include <QHash>

#include "data/billindex.h"
#include "data/dbsetting.h"
#include "data/mbill.h"
#include "data/money.h"
#include "data/notifier.h"
#include "engine/synchelper.h"
#include "sync/dsyncconfig.h"
#include "widgets/dmessagebox.h"
#include "widgets/styledbackground.h"
#include "widgets/welidedlabel.h"
#include "ui_ustatusbar.h"

namespace {

const char* const syncLink
    = "<a href=\"#\"><span style=\" text-decoration: underline; color:#cceeff;\">立即同步</span></a>";
const char* const syncingLink
    = "<a href=\"#\"><span style=\" text-decoration: underline; color:#cceeff;\">同步中</span></a>";
const char* const timeFormat = "yyyy-MM-dd hh:mm:ss";
// The time alone, where the row has no room for the date.
const char* const shortTimeFormat = "hh:mm:ss";
// The form's minimum width of the state text.
const int SyncStateMinimumWidth = 100;

} // namespace

UStatusBar::UStatusBar(QWidget* parent)
    : QWidget(parent)
    , ui(new Ui::UStatusBar)
{
    ui->setupUi(this);
    // The gap between the two parts takes what is left over and holds nothing back when the row is
    // short of room, so that every pixel goes to the figures.
    ui->horizontalSpacer->changeSize(0, 20, QSizePolicy::Expanding, QSizePolicy::Minimum);
    condition = QStringLiteral(" 1=1 ");

    QDateTime synced = DbSetting::getInstance()->getSyncTime();
    synced.setTimeSpec(Qt::UTC);
    synced = synced.toLocalTime();
    if (!synced.isValid() || synced.date().year() < 2009)
        showSyncState(tr("  尚未同步过 "));
    else
        showSyncState(tr("  上次同步 ") + synced.toString(QLatin1String(timeFormat)), synced);

    SyncHelper* sync = SyncHelper::getInstance();
    connect(sync, &SyncHelper::syncFinished, this, &UStatusBar::syncFinished);
    connect(sync, &SyncHelper::syncStarted, this, &UStatusBar::syncStarted);
    connect(sync, &SyncHelper::syncError, this, &UStatusBar::syncError);
    connect(sync, &SyncHelper::clockWarning, this, &UStatusBar::clockWarning);

    Notifier* notifier = Notifier::getInstance();
    connect(notifier, &Notifier::billDataChanged, this, &UStatusBar::billDataChanged);
    connect(notifier, &Notifier::listConditionChanged, this, &UStatusBar::listConditionChanged);

    billDataChanged();
}

UStatusBar::~UStatusBar()
{
    delete ui;
}

void UStatusBar::setContent(QWidget* newContent)
{
    content = newContent;
}

QString UStatusBar::getSummary(const QString& condition)
{
    // A condition the book rejects counts every kind as 0. The totals of the bill list's conditions
    // are kept in memory and follow every write: no pass over the bills here.
    return summaryOf(BillIndex::totals(condition));
}

QString UStatusBar::summaryOf(const QHash<QString, double>& totals)
{
    const double expense = totals.value(MBill::Expense);
    const double income = totals.value(MBill::Income);
    const double borrow = totals.value(MBill::Borrow);
    const double repay = totals.value(MBill::Repay);
    const double lend = totals.value(MBill::Lend);
    const double refund = totals.value(MBill::Refund);

    QString text = tr("支出:") + formatMoney(expense) + QLatin1Char(' ') + tr("收入:") + formatMoney(income);
    // Compared in cents, so that a loan paid back in full shows no net parts.
    const double netBorrowed = roundToCents(borrow + repay);
    const double netLent = roundToCents(lend + refund);
    if (netBorrowed != 0.0 || netLent != 0.0) {
        text += QLatin1Char(' ') + tr("净借入:") + formatMoney(netBorrowed) + QLatin1Char(' ') + tr("净借出:")
            + formatMoney(netLent);
    }
    const double change = roundToCents(expense + income + borrow + repay + lend + refund);
    QString changeText = formatMoney(change);
    if (change > 0)
        changeText.prepend(QLatin1Char('+'));
    return text + QLatin1Char(' ') + tr("变化:") + changeText;
}

void UStatusBar::listConditionChanged(const QString& newCondition)
{
    if (!newCondition.isEmpty())
        condition = newCondition;
    ui->lblTotalSummary->setText(tr("总计  ") + getSummary(condition));
    fitRow();
}

void UStatusBar::billDataChanged()
{
    listConditionChanged(QString());
    const QString month = QDate::currentDate().toString(QStringLiteral("yyyyMM"));
    ui->lblMonthSummary->setText(tr("本月  ") + summaryOf(BillIndex::monthTotals(month.toInt())));
    fitRow();
}

void UStatusBar::showSyncState(const QString& text, const QDateTime& synced)
{
    syncedAt = synced;
    if (!synced.isValid())
        clockNote.clear();
    syncState = text + clockNote;
    // The date always in the tool tip, with why a wrong clock matters when it was wrong.
    QString tip = synced.isValid() ? text.trimmed() : QString();
    if (synced.isValid() && !clockNote.isEmpty())
        tip += QLatin1Char('\n') + SyncHelper::clockWarningText(clockOff);
    ui->lblSyncTime->setToolTip(tip);
    fitRow();
}

int UStatusBar::rowWidth(const QHash<const QWidget*, int>& widths) const
{
    // What the row's layout asks for with the widths given for some of its labels and the others
    // whole, but for the spacer that takes up what is left over.
    const auto* row = static_cast<const QBoxLayout*>(layout());
    const QMargins margins = row->contentsMargins();
    int width = margins.left() + margins.right();
    int shown = 0;
    for (int i = 0; i < row->count(); ++i) {
        QLayoutItem* item = row->itemAt(i);
        if (item->widget() && widths.contains(item->widget()))
            width += widths.value(item->widget());
        else if (!item->spacerItem() || !(item->expandingDirections() & Qt::Horizontal))
            width += item->sizeHint().width();
        if (!item->isEmpty())
            ++shown;
    }
    return width + std::max(0, shown - 1) * std::max(0, row->spacing());
}

void UStatusBar::fitRow()
{
    // Short of room, the row gives way in this order: the date of the last synchronisation (the
    // time stays, the date is in the tooltip), the middle items of the totals line, then those of
    // the month line. The state itself is never cut.
    QLabel* state = ui->lblSyncTime;
    WElidedLabel* month = ui->lblMonthSummary;
    WElidedLabel* total = ui->lblTotalSummary;
    const auto wholeWidth = [](const QLabel* label, const QString& text) {
        return label->fontMetrics().horizontalAdvance(text) + label->width() - label->contentsRect().width();
    };
    const int wholeMonth = month->sizeHint().width();
    QString text = syncState;
    if (syncedAt.isValid()
        && rowWidth(
               { { state, wholeWidth(state, syncState) }, { month, wholeMonth }, { total, total->sizeHint().width() } })
            > width())
        text = tr("  上次同步 ") + syncedAt.toString(QLatin1String(shortTimeFormat)) + clockNote;
    if (state->text() != text)
        state->setText(text);
    // The form's minimum width alone would let the layout squeeze the state to it.
    const int stateWidth = std::max(SyncStateMinimumWidth, wholeWidth(state, text));
    state->setMinimumWidth(stateWidth);
    // The month line keeps every figure while the totals line can give way instead. A cap on the
    // totals line, not a minimum on the month line, so that the window can still be made narrower.
    const int room = width() - rowWidth({ { state, stateWidth }, { month, wholeMonth }, { total, 0 } });
    total->setMaximumWidth(room >= total->minimumSizeHint().width() ? room : QWIDGETSIZE_MAX);
}

void UStatusBar::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    fitRow();
}

bool UStatusBar::event(QEvent* event)
{
    // A label's font or text changed (the style sheet applies only when the bar is first shown):
    // fitted again before the layout places the labels.
    if (event->type() == QEvent::LayoutRequest)
        fitRow();
    return QWidget::event(event);
}

void UStatusBar::syncStarted()
{
    showSyncState(tr("  正在同步，请稍候...... "));
    syncStartTime = QDateTime::currentDateTime();
    clockOff = 0;
    ui->lblSync->setText(tr(syncingLink));
    ui->lblSync->setEnabled(false);
}

void UStatusBar::clockWarning(qint64 seconds)
{
    clockOff = seconds;
}

void UStatusBar::syncFinished()
{
    // A wrong clock stays in sight until the next run, the reason in the tool tip.
    clockNote = clockOff == 0 ? QString() : QStringLiteral("（%1）").arg(SyncHelper::clockDifferenceText(clockOff));
    showSyncState(tr("  上次同步 ") + syncStartTime.toString(QLatin1String(timeFormat)), syncStartTime);
    ui->lblSync->setText(tr(syncLink));
    ui->lblSync->setEnabled(true);
}

void UStatusBar::syncError(int, const QString& message)
{
    DMessageBox::error(this, message);
    showSyncState(tr("  上次同步失败"));
    ui->lblSync->setText(tr(syncLink));
    ui->lblSync->setEnabled(true);
}

void UStatusBar::on_lblSync_linkActivated(const QString&)
{
    if (DbSetting::getInstance()->hasSyncAccount()) {
        SyncHelper::getInstance()->sync();
        return;
    }
    DMessageBox::information(this, tr("错误"), tr("请填写同步账号和密码"));
    DSyncConfig dialog(this);
    dialog.exec();
    if (DbSetting::getInstance()->hasSyncAccount())
        SyncHelper::getInstance()->sync();
}

void UStatusBar::paintEvent(QPaintEvent*)
{
    paintStyledBackground(this);
}
