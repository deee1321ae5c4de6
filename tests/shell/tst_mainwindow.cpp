#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QPushButton>
#include <QScreen>
#include <QSqlDatabase>
#include <QSettings>
#include <QTest>

#include "data/booklock.h"
#include "data/constants.h"
#include "data/dbsetting.h"
#include "data/filesetting.h"
#include "data/settingkeys.h"
#include "modalanswerer.h"
#include "shell/mainwindow.h"
#include "sync/updatehelper.h"
#include "testenv.h"

namespace {

QStringList backups()
{
    return QDir(Constants::getInstance()->getBackupDir()).entryList(QDir::Files);
}

QString bookPath()
{
    return Constants::getInstance()->getDbDir() + Constants::getInstance()->getBookName();
}

// Closes the default connection the window opened, so the next window opens it afresh.
void forgetBook()
{
    DbSetting::setInstance(nullptr);
    TestBook::closeDefault();
}

bool setMode(const QString& path, QFileDevice::Permissions permissions)
{
    return QFile::setPermissions(path, permissions);
}

const QFileDevice::Permissions everyone = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
    | QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther
    | QFileDevice::WriteOther | QFileDevice::ExeOther;
const QFileDevice::Permissions readOnly = QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther;
const QFileDevice::Permissions readOnlyFolder
    = readOnly | QFileDevice::ExeOwner | QFileDevice::ExeGroup | QFileDevice::ExeOther;

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void missingBookIsCreatedOnce();
    void newBookThatFailsHalfWayIsNotKept();
    void clockWarning_data();
    void clockWarning();
    void backupAtStartComesBeforeTheBookIsOpened();
    void bookThatCannotBeOpened();
    void bookHeldByAnotherCopy();
    void fileThatIsNoBook_data();
    void fileThatIsNoBook();
    void readOnlyBook_data();
    void readOnlyBook();
    void closePolicy_data();
    void closePolicy();
    void updateCheckFollowsTheSetting_data();
    void updateCheckFollowsTheSetting();
    void maximiseThenRestore();

private:
    TestEnv* env = nullptr;
};

void TestMainWindow::init()
{
    env = new TestEnv;
    MainWindow::environment().today = [] { return QDate(2026, 12, 10); };
    MainWindow::environment().trayAvailable = [] { return false; };
    FileSetting::getInstance()->setValue(SettingKeys::EnableAutoUpdate, false);
}

void TestMainWindow::cleanup()
{
    forgetBook();
    MainWindow::environment() = MainWindow::Environment();
    delete env;
}

void TestMainWindow::missingBookIsCreatedOnce()
{
    QVERIFY(!QFileInfo::exists(bookPath()));
    {
        MainWindow window;
        QVERIFY(window.isBookOpen());
        QCOMPARE(window.windowTitle(), QString("Quorvane记账"));
        QCOMPARE(window.size(), QSize(1024, 700));
    }
    const QFileInfo file(bookPath());
    QVERIFY(file.exists());
    QVERIFY(file.permissions() & QFileDevice::WriteOwner);
    QVERIFY(!(file.permissions() & (QFileDevice::ReadOther | QFileDevice::WriteOther)));
    QCOMPARE(scalar("select count(*) from tbl_account").toInt(), 2);
    QCOMPARE(scalar("select version from tbl_setting").toInt(), 38);
    QVERIFY(execAll({ "delete from tbl_member where id='02'" }));
    forgetBook();

    // An existing book never gets the default records again.
    MainWindow again;
    QVERIFY(again.isBookOpen());
    QCOMPARE(scalar("select count(*) from tbl_member").toInt(), 1);
}

void TestMainWindow::newBookThatFailsHalfWayIsNotKept()
{
    // A folder where the new book's journal goes: the default records cannot be written, even by
    // root, once the template is in place.
    const QString journal = bookPath() + ".creating-journal";
    QVERIFY(QDir().mkdir(journal));
    {
        ModalAnswerer boxes;
        boxes.expect("数据文件错误", "无法写入新账本的默认数据，账本没有建立。", "确定");
        MainWindow window;
        QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
        QVERIFY(!window.isBookOpen());
    }
    QVERIFY(!QFileInfo::exists(bookPath()));
    QCOMPARE(QDir(Constants::getInstance()->getDbDir()).entryList({ "Quorvane*" }, QDir::Files),
        QStringList { "Quorvane.ini" });
    // Not remembered either: the book never opened.
    QVERIFY(!QSettings(env->iniPath(), QSettings::IniFormat).contains("Common/LastBook"));

    // The next start makes the book afresh, with every default record.
    QVERIFY(QDir().rmdir(journal));
    forgetBook();
    MainWindow again;
    QVERIFY(again.isBookOpen());
    QCOMPARE(scalar("select count(*) from tbl_member").toInt(), 2);
    QCOMPARE(scalar("select count(*) from tbl_sub_category").toInt(), 25);
}

void TestMainWindow::bookHeldByAnotherCopy()
{
    {
        MainWindow first;
        QVERIFY(first.isBookOpen());
    }
    // This copy has ended (its lock goes with it); another copy opens the book.
    forgetBook();
    BookLock::releaseOpenBook();
    FileSetting::getInstance()->setValue(SettingKeys::LastBook, "Other.db");
    const QByteArray before = fileBytes(bookPath());
    {
        BookHolder other(QStringLiteral(QUORVANE_BOOK_DRIVER), bookPath());
        QVERIFY(other.isHolding());
        ModalAnswerer boxes;
        boxes.expect(
            "账本正在使用", "账本“Quorvane”正在被另一个运行中的Quorvane记账使用。请先在那里关闭它，再试一次。", "确定");
        MainWindow window;
        QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
        QVERIFY(!window.isBookOpen());
        // Nothing of the book touched: not opened, not backed up, not remembered.
        QVERIFY(!QSqlDatabase::database(QLatin1String(QSqlDatabase::defaultConnection), false).isOpen());
        QCOMPARE(backups(), QStringList());
        QCOMPARE(fileBytes(bookPath()), before);
        QCOMPARE(FileSetting::getInstance()->value(SettingKeys::LastBook).toString(), QString("Other.db"));
    }
    forgetBook();
    // Once the other copy has ended, the book opens, and is remembered then.
    MainWindow again;
    QVERIFY(again.isBookOpen());
    QCOMPARE(FileSetting::getInstance()->value(SettingKeys::LastBook).toString(), QString("Quorvane.db"));
}

void TestMainWindow::clockWarning_data()
{
    QTest::addColumn<QDate>("today");
    QTest::addColumn<bool>("warned");
    QTest::newRow("2012") << QDate(2012, 12, 31) << true;
    QTest::newRow("2013") << QDate(2013, 1, 1) << false;
}

void TestMainWindow::clockWarning()
{
    QFETCH(QDate, today);
    QFETCH(bool, warned);
    MainWindow::environment().today = [today] { return today; };
    ModalAnswerer boxes;
    if (warned)
        boxes.expect("系统时间有错误", "您电脑当前的时间是2012年,请确认是否有错误!", "确定");
    MainWindow window;
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QVERIFY(window.isBookOpen());
}

void TestMainWindow::backupAtStartComesBeforeTheBookIsOpened()
{
    {
        MainWindow first; // a new book: nothing to back up yet, and no complaint
    }
    QCOMPARE(backups().size(), 0);
    QVERIFY(execAll({ "insert into tbl_member (id,name) values ('m9','after the backup')" }));
    forgetBook();
    QTest::qWait(2); // backup names carry milliseconds

    MainWindow second;
    QCOMPARE(backups().size(), 1);
    QVERIFY(backups().first().startsWith("Quorvane"));
    // The copy is the book as the last run left it.
    const QString copy = Constants::getInstance()->getBackupDir() + backups().first();
    QCOMPARE(valueIn(copy, "select count(*) from tbl_member where id='m9'").toInt(), 1);
}

void TestMainWindow::bookThatCannotBeOpened()
{
    QVERIFY(QDir().mkpath(bookPath())); // a folder where the book should be
    ModalAnswerer boxes;
    boxes.expect("数据文件错误", "打开数据文件出现错误。", "确定");
    MainWindow window;
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QVERIFY(!window.isBookOpen());
}

void TestMainWindow::fileThatIsNoBook_data()
{
    QTest::addColumn<QStringList>("damage");
    QTest::newRow("no bill table") << QStringList { "drop table tbl_bill" };
    QTest::newRow("no settings table") << QStringList { "drop table tbl_setting" };
    QTest::newRow("no member table") << QStringList { "drop table tbl_member" };
    QTest::newRow("no sub-category table") << QStringList { "drop table tbl_sub_category" };
    QTest::newRow("an account table without kinds")
        << QStringList { "drop table tbl_account", "create table tbl_account (id, name, amount, description, sort)" };
    QTest::newRow("some other database") << QStringList { "drop table tbl_bill", "drop table tbl_account",
        "drop table tbl_setting", "drop table tbl_member", "drop table tbl_borrower" };
}

void TestMainWindow::fileThatIsNoBook()
{
    QFETCH(QStringList, damage);
    {
        MainWindow first;
    }
    QVERIFY(execAll(damage));
    forgetBook();
    const QByteArray before = fileBytes(bookPath());

    // Told once, like any file that does not open; nothing is copied to the backups or written.
    QVERIFY(FileSetting::getInstance()->value(SettingKeys::BackupWhenStartup).toBool());
    ModalAnswerer boxes;
    boxes.expect("数据文件错误", "打开数据文件出现错误。", "确定");
    MainWindow window;
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QVERIFY(!window.isBookOpen());
    QCOMPARE(backups(), QStringList());
    QFile file(bookPath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll() == before);
}

void TestMainWindow::readOnlyBook_data()
{
    QTest::addColumn<bool>("folder");
    QTest::newRow("read-only file") << false;
    QTest::newRow("read-only folder") << true;
}

void TestMainWindow::readOnlyBook()
{
    QFETCH(bool, folder);
    {
        MainWindow first;
    }
    forgetBook();
    const QString dataDir = Constants::getInstance()->getDbDir();
    for (const QString& dir : { env->root(), env->appDir(), dataDir })
        QVERIFY(setMode(dir, everyone));
    QVERIFY(setMode(bookPath(), folder ? everyone : readOnly));
    if (folder)
        QVERIFY(setMode(dataDir, readOnlyFolder));
    const QDateTime modified = QFileInfo(bookPath()).lastModified();

    ModalAnswerer boxes;
    boxes.expect(ModalAnswerer::titled("账本只能查看"), ModalAnswerer::press("确定"));
    {
        AsOrdinaryUser user;
        MainWindow window;
        QVERIFY(window.isBookOpen());
        QCOMPARE(scalar("select count(*) from tbl_account").toInt(), 2);
    }
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QCOMPARE(backups(), QStringList());
    QCOMPARE(QFileInfo(bookPath()).lastModified(), modified);
    QVERIFY(setMode(dataDir, everyone));
}

void TestMainWindow::closePolicy_data()
{
    QTest::addColumn<bool>("tray");
    QTest::addColumn<bool>("trayOption");
    QTest::addColumn<bool>("syncWhenClose");
    QTest::addColumn<bool>("backupWhenClose");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<int>("backupsMade");
    QTest::newRow("tray and option: hide") << true << true << false << true << false << 0;
    QTest::newRow("tray without option: close") << true << false << false << true << true << 1;
    QTest::newRow("no tray: close") << false << true << false << true << true << 1;
    QTest::newRow("sync without account: backup only") << false << false << true << true << true << 1;
    QTest::newRow("no backup wanted") << false << false << false << false << true << 0;
}

void TestMainWindow::closePolicy()
{
    QFETCH(bool, tray);
    QFETCH(bool, trayOption);
    QFETCH(bool, syncWhenClose);
    QFETCH(bool, backupWhenClose);
    QFETCH(bool, accepted);
    QFETCH(int, backupsMade);
    MainWindow::environment().trayAvailable = [tray] { return tray; };
    FileSetting* settings = FileSetting::getInstance();
    settings->setValue(SettingKeys::EnableSystemTrayIcon, trayOption);
    settings->setValue(SettingKeys::BackupWhenClose, backupWhenClose);
    settings->setSyncWhenClose(syncWhenClose);

    MainWindow window;
    DbSetting::getInstance()->setSyncUsername("only a name");
    window.show();
    const int before = backups().size();
    ModalAnswerer boxes; // no sync dialog may appear
    QCloseEvent event;
    QApplication::sendEvent(&window, &event);
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QCOMPARE(event.isAccepted(), accepted);
    QCOMPARE(window.isVisible(), accepted);
    QCOMPARE(backups().size() - before, backupsMade);
}

void TestMainWindow::updateCheckFollowsTheSetting_data()
{
    QTest::addColumn<bool>("enabled");
    QTest::newRow("on") << true;
    QTest::newRow("off") << false;
}

void TestMainWindow::updateCheckFollowsTheSetting()
{
    QFETCH(bool, enabled);
    FileSetting::getInstance()->setValue(SettingKeys::EnableAutoUpdate, enabled);
    MainWindow window;
    QVERIFY(QMetaObject::invokeMethod(&window, "checkUpdate"));
    QCOMPARE(window.findChildren<UpdateHelper*>().size(), enabled ? 1 : 0);
}

void TestMainWindow::maximiseThenRestore()
{
    // The states as a window system without a window manager leaves them: the window itself fills
    // the work area and brings its geometry back.
    MainWindow window;
    window.setMinimumSize(300, 200); // the test's screen is smaller than the window's least size
    window.setGeometry(120, 90, 500, 380);
    const QRect normal = window.geometry();
    const QRect area = window.screen()->availableGeometry();
    for (int round = 0; round < 2; ++round) {
        window.setWindowState(Qt::WindowMaximized);
        QVERIFY(window.isMaximized());
        QCOMPARE(window.geometry(), area);
        window.setWindowState(Qt::WindowNoState);
        QVERIFY(!window.isMaximized());
        QCOMPARE(window.geometry(), normal);
    }
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
