#include "shell/mainwindow.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QMenu>
#include <QScreen>
#include <QTimer>

#include "data/constants.h"
#include "data/dbhelper.h"
#include "data/dbsetting.h"
#include "data/filesetting.h"
#include "data/settingkeys.h"
#include "datamgmt/backuphelper.h"
#include "shell/common/appcontrol.h"
#include "shell/common/dmessagebox.h"
#include "sync/dsync.h"
#include "sync/updatehelper.h"
#include "ui_mainwindow.h"

MainWindow::Environment& MainWindow::environment()
{
    static Environment env;
    return env;
}

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
{
    QTimer::singleShot(2000, this, &MainWindow::checkUpdate);

    const int year = environment().today().year();
    if (year <= 2012) {
        DMessageBox::information(
            this, tr("系统时间有错误"), tr("您电脑当前的时间是") + QString::number(year) + tr("年,请确认是否有错误!"));
    }

    if (FileSetting::getInstance()->value(SettingKeys::BackupWhenStartup).toBool())
        BackupHelper::backup(QString());

    bookOpen = openBook();
    if (!bookOpen) {
        DMessageBox::information(this, tr("数据文件错误"), tr("打开数据文件出现错误。"));
        return;
    }

    if (FileSetting::getInstance()->getSyncWhenStartup() && DbSetting::getInstance()->hasSyncAccount()) {
        DSync sync(this);
        sync.exec();
    }

    setWindowFlags(Qt::FramelessWindowHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
        | Qt::WindowMaximizeButtonHint);
    ui->setupUi(this);
    setWindowTitle(tr("Quorvane记账"));
    enableMouseTracking(this);
    ui->wgtHeader->setContent(ui->wgtContent);
    ui->wgtStatusBar->setContent(ui->wgtContent);
    createTrayIcon();
}

MainWindow::~MainWindow()
{
    delete ui;
}

bool MainWindow::openBook()
{
    Constants* constants = Constants::getInstance();
    const QString path = constants->getDbDir() + constants->getBookName();
    bool isNew = false;
    if (!QFile::exists(path)) {
        // A copy of a resource is read-only; the book belongs to its owner alone.
        if (!QFile::copy(QStringLiteral(":/rc/data/init.db"), path))
            return false;
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        isNew = true;
    }
    if (!DBHelper::openDefaultConnection(path))
        return false;
    if (!DBHelper::getInstance()->upgrade())
        return false;
    if (isNew && !DBHelper::getInstance()->initDefaultData(QString()))
        return false;
    // Remembered as the last book, so that the next start opens it again.
    constants->setBookName(constants->getBookName());
    return true;
}

void MainWindow::enableMouseTracking(QWidget* widget)
{
    widget->setAttribute(Qt::WA_MouseTracking);
    const auto children = widget->findChildren<QWidget*>();
    for (QWidget* child : children)
        child->setAttribute(Qt::WA_MouseTracking);
}

void MainWindow::createTrayMenu()
{
    minimizeAction = new QAction(tr("最小化(&N)"), this);
    connect(minimizeAction, &QAction::triggered, this, &QWidget::hide);
    maximizeAction = new QAction(tr("最大化(&X)"), this);
    connect(maximizeAction, &QAction::triggered, this, &QWidget::showMaximized);
    restoreAction = new QAction(tr("还 原(&R)"), this);
    connect(restoreAction, &QAction::triggered, this, &QWidget::showNormal);
    quitAction = new QAction(tr("退出(&Q)"), this);
    connect(quitAction, &QAction::triggered, qApp, &AppControl::quit);

    trayMenu = new QMenu(this);
    trayMenu->addAction(minimizeAction);
    trayMenu->addAction(maximizeAction);
    trayMenu->addAction(restoreAction);
    trayMenu->addSeparator();
    trayMenu->addAction(quitAction);
}

void MainWindow::createTrayIcon()
{
    createTrayMenu();
    if (!environment().trayAvailable())
        return;
    const QIcon icon(QStringLiteral(":/rc/images/Icon.png"));
    trayIcon = new QSystemTrayIcon(this);
    trayIcon->setIcon(icon);
    setWindowIcon(icon);
    trayIcon->setToolTip(tr("Quorvane记账"));
    trayIcon->setContextMenu(trayMenu);
    trayIcon->setVisible(true);
    connect(trayIcon, &QSystemTrayIcon::activated, this, &MainWindow::iconActivated);
}

void MainWindow::showHiddenBalloon()
{
    if (trayIcon)
        trayIcon->showMessage(tr("Quorvane记账"), tr("Quorvane记账隐藏到这里了"), QSystemTrayIcon::Information, 10000);
}

void MainWindow::iconActivated(QSystemTrayIcon::ActivationReason reason)
{
    switch (reason) {
    case QSystemTrayIcon::DoubleClick:
    case QSystemTrayIcon::Trigger:
        showNormal();
        break;
    case QSystemTrayIcon::MiddleClick:
        showHiddenBalloon();
        break;
    default:
        break;
    }
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (trayIcon && trayIcon->isVisible()
        && FileSetting::getInstance()->value(SettingKeys::EnableSystemTrayIcon).toBool()) {
        showHiddenBalloon();
        hide();
        event->ignore();
        return;
    }
    if (bookOpen && FileSetting::getInstance()->getSyncWhenClose() && DbSetting::getInstance()->hasSyncAccount()) {
        DSync sync(this);
        sync.exec();
    }
    event->accept();
    if (trayIcon)
        trayIcon->hide();
    if (bookOpen && FileSetting::getInstance()->value(SettingKeys::BackupWhenClose).toBool())
        BackupHelper::backup(QString());
}

void MainWindow::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    // A frameless window has no frame for the window manager to keep off the panels: maximised, it
    // fills the screen's work area and no more.
    if (event->type() == QEvent::WindowStateChange && isMaximized() && screen()) {
        const QRect area = screen()->availableGeometry();
        if (geometry() != area)
            setGeometry(area);
    }
}

void MainWindow::checkUpdate()
{
    if (!FileSetting::getInstance()->value(SettingKeys::EnableAutoUpdate).toBool())
        return;
    auto* helper = new UpdateHelper(this, true);
    helper->checkVersion();
}
