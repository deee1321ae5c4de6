#include "benchprogram.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSqlDatabase>
#include <QWindow>

#include "data/booklock.h"
#include "data/constants.h"
#include "data/dbsetting.h"
#include "data/filesetting.h"
#include "data/maccount.h"
#include "data/mbill.h"
#include "data/mborrower.h"
#include "data/mcategory.h"
#include "data/mmember.h"
#include "data/settingkeys.h"
#include "shell/mainwindow.h"

const char* const benchBookName = "bench.db";

void useProgramFolder(const QString& root)
{
    Constants::Roots roots;
    roots.appDir = root + QStringLiteral("/app");
    roots.documentsRoot = root + QStringLiteral("/documents");
    roots.configRoot = root + QStringLiteral("/config");
    QDir().mkpath(roots.appDir);
    Constants::setInstance(new Constants(roots));
    Constants::makeDir(Constants::getInstance()->getDbDir());
    FileSetting::setInstance(new FileSetting(Constants::getInstance()->getSettingDir() + "Quorvane.ini"));
    FileSetting* settings = FileSetting::getInstance();
    settings->setValue(SettingKeys::BackupWhenStartup, false);
    settings->setValue(SettingKeys::BackupWhenClose, false);
    settings->setValue(SettingKeys::EnableAutoUpdate, false);
    MainWindow::environment().trayAvailable = [] { return false; };
}

bool copyFresh(const QString& from, const QString& to)
{
    QFile::remove(to);
    return QFile::copy(from, to) && QFile::setPermissions(to, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

void forgetBook()
{
    DbSetting::setInstance(nullptr);
    const QString name = QLatin1String(QSqlDatabase::defaultConnection);
    if (QSqlDatabase::contains(name)) {
        QSqlDatabase::database(name, false).close();
        QSqlDatabase::removeDatabase(name);
    }
    MAccount::clearCache();
    MBorrower::clearCache();
    MCategory::clearCache();
    MMember::clearCache();
    MBill::resetState();
    // A restore or an import keeps the book locked as this program's open book until then.
    BookLock::releaseOpenBook();
}

std::unique_ptr<MainWindow> showMainWindow()
{
    auto window = std::make_unique<MainWindow>();
    window->resize(1200, 800);
    window->show();
    QElapsedTimer waited;
    waited.start();
    while ((!window->windowHandle() || !window->windowHandle()->isExposed()) && waited.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    QCoreApplication::processEvents();
    return window;
}
