#include "shell/mainwindow.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QMenu>
#include <QScreen>
#include <QTimer>

#include "data/backuphelper.h"
#include "data/constants.h"
#include "data/dbhelper.h"
#include "data/dbsetting.h"
#include "data/filesetting.h"
#include "data/settingkeys.h"
#include "sync/dsync.h"
#include "sync/updatehelper.h"
#include "widgets/appcontrol.h"
#include "widgets/dmessagebox.h"
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

    bookOpen = openBook();
    if (!bookOpen) {
        DMessageBox::information(this, tr("数据文件错误"), tr("打开数据文件出现错误。"));
        return;
    }
    if (bookReadOnly) {
        DMessageBox::information(this, tr("账本只能查看"),
            tr("账本“%1”的文件或它所在的文件夹不允许写入：账目可以查看，但任何修改都不能保存。")
                .arg(Constants::getInstance()->getBookName()));
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
    const bool isNew = !QFile::exists(path);
    if (isNew && !createBook(path))
        return false;
    if (!DBHelper::openDefaultConnection(path))
        return false;
    // Nothing is copied or written before the file has shown to be a book.
    if (!DBHelper::checkSchema())
        return false;
    bookReadOnly = !isNew && !DBHelper::isWritable(path);
    // The backup comes before anything is written; a book that cannot change needs none.
    if (!isNew && !bookReadOnly && FileSetting::getInstance()->value(SettingKeys::BackupWhenStartup).toBool())
        BackupHelper::backup(QString());
    if (!bookReadOnly && !DBHelper::getInstance()->upgrade())
        return false;
    if (!DBHelper::checkSchema())
        return false;
    // Remembered as the last book, so that the next start opens it again.
    constants->setBookName(constants->getBookName());
    return true;
}

bool MainWindow::createBook(const QString& path)
{
    // Built under a name of its own and given the book's name only once complete: a first start
    // that fails half-way leaves nothing that the next start would take for a finished book.
    const QString building = path + QStringLiteral(".creating");
    QFile::remove(building);
    QFile::remove(building + QStringLiteral("-journal"));
    // A copy of a resource is read-only; the book belongs to its owner alone.
    if (!QFile::copy(QStringLiteral(":/rc/data/init.db"), building))
        return false;
    QFile::setPermissions(building, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    bool complete = DBHelper::openDefaultConnection(building) && DBHelper::getInstance()->upgrade()
        && DBHelper::getInstance()->initDefaultData(QString());
    // The connection follows the file's name (its journal is named after it): closed before the
    // rename, opened again on the book's own name.
    DBHelper::closeDefaultConnection();
    complete = complete && QFile::rename(building, path);
    if (!complete)
        QFile::remove(building);
    return complete;
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
    if (event->type() != QEvent::WindowStateChange || adjustingGeometry)
        return;
    // A frameless window has no frame for the window manager to keep off the panels: maximised, it
    // fills the screen's work area and no more; restored, it takes back the place it had. Without
    // a window manager (or with one that leaves frameless windows alone) nobody else does either.
    const Qt::WindowStates old = static_cast<QWindowStateChangeEvent*>(event)->oldState();
    adjustingGeometry = true;
    if (isMaximized() && !(old & Qt::WindowMaximized)) {
        geometryBeforeMaximised = normalGeometry();
        const QRect area = screen() ? screen()->availableGeometry() : QRect();
        if (area.isValid() && geometry() != area) {
            // Setting the geometry ends the maximised state: it is taken up again at once.
            setGeometry(area);
            setWindowState(windowState() | Qt::WindowMaximized);
        }
    } else if (!isMaximized() && (old & Qt::WindowMaximized) && geometryBeforeMaximised.isValid()
        && geometry() != geometryBeforeMaximised) {
        setGeometry(geometryBeforeMaximised);
    }
    adjustingGeometry = false;
}

void MainWindow::checkUpdate()
{
    if (!FileSetting::getInstance()->value(SettingKeys::EnableAutoUpdate).toBool())
        return;
    auto* helper = new UpdateHelper(this, true);
    helper->checkVersion();
}
