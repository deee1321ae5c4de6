#include "sync/dsync.h"

#include <QScreen>

#include "data/filesetting.h"
#include "engine/synchelper.h"
#include "engine/synclogging.h"
#include "widgets/dmessagebox.h"
#include "widgets/styledbackground.h"
#include "ui_dsync.h"

DSync::DSync(QWidget* parent)
    : QDialog(parent)
    , ui(new Ui::DSync)
{
    setProperty("style", QStringLiteral("dialog"));
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    ui->setupUi(this);
    ui->wgtTitle->setTitle(tr("数据同步"));
    // The start-up run comes before the main window shows: centred on a window nobody sees yet, the
    // dialog would sit in a corner beside the splash screen.
    if (parent && !parent->window()->isVisible())
        move(screen()->availableGeometry().center() - rect().center());

    SyncHelper* engine = SyncHelper::getInstance();
    connect(engine, &SyncHelper::syncLog, this, &DSync::syncLog);
    connect(engine, &SyncHelper::syncProgress, this, &DSync::syncProgress);
    connect(engine, &SyncHelper::syncFinished, this, &DSync::syncFinished);
    connect(engine, &SyncHelper::syncError, this, &DSync::syncError);
    connect(engine, &SyncHelper::clockWarning, this, &DSync::clockWarning);
    // Only one synchronisation runs at a time: while one is under way (started from the status bar,
    // say) this dialog shows that one and ends with it.
    if (!engine->sync())
        ui->lblLog->setText(tr("正在同步数据..."));

    ui->pbOK->hide();
    ui->pbProgress->setRange(0, 0);
    ui->cbAutoClose->setChecked(FileSetting::getInstance()->getCloseWhenSyncFinished());
}

DSync::~DSync()
{
    delete ui;
}

void DSync::paintEvent(QPaintEvent*)
{
    paintStyledBackground(this);
}

void DSync::done(int result)
{
    // Closed, also in the middle of the run: the run goes on, but its end is no longer this
    // dialog's business.
    stopFollowing();
    QDialog::done(result);
}

void DSync::stopFollowing()
{
    disconnect(SyncHelper::getInstance(), nullptr, this, nullptr);
}

void DSync::closeWith(int result)
{
    if (isVisible())
        done(result);
    else
        QMetaObject::invokeMethod(
            this, [this, result] { done(result); }, Qt::QueuedConnection);
}

void DSync::syncLog(const QString& text)
{
    ui->lblLog->setText(text);
}

void DSync::syncProgress(float progress)
{
    qCDebug(lcSync) << "synchronisation progress" << progress;
    // The range stays 0-0: the bar goes on showing a busy run, never a percentage.
    ui->pbProgress->setValue(int(progress));
}

void DSync::clockWarning(qint64 seconds)
{
    clockText = SyncHelper::clockWarningText(seconds);
}

void DSync::syncFinished()
{
    stopFollowing();
    // The stored setting decides, so a click on the box during the run counts for this run; a wrong
    // clock is told all the same, so the dialog waits for the user then.
    if (FileSetting::getInstance()->getCloseWhenSyncFinished() && clockText.isEmpty()) {
        closeWith(QDialog::Accepted);
        return;
    }
    ui->lblLog->setText(tr("您已经成功完成数据同步。"));
    if (clockText.isEmpty()) {
        ui->lblLog_2->hide();
    } else {
        ui->lblLog_2->setWordWrap(true);
        ui->lblLog_2->setText(clockText);
        adjustSize();
    }
    ui->pbOK->show();
    ui->pbOK->setFocus();
    ui->pbProgress->hide();
}

void DSync::syncError(int, const QString& message)
{
    stopFollowing();
    DMessageBox::information(
        this, tr("同步出错"), clockText.isEmpty() ? message : message + QStringLiteral("\n\n") + clockText);
    closeWith(QDialog::Rejected);
}

void DSync::on_pbOK_clicked()
{
    accept();
}

void DSync::on_cbAutoClose_clicked()
{
    FileSetting::getInstance()->setCloseWhenSyncFinished(ui->cbAutoClose->isChecked());
}
