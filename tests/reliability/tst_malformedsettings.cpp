// A damaged Quorvane.ini: bytes that are no INI file, a file cut short, NUL characters, values of
// the wrong kind for every key. The real main window starts on it, shows the bill list and the
// settings page and closes, without a crash or a box; the book opens where books belong, and the
// file is a sound INI file afterwards.
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTest>
#include <QAbstractButton>

#include "data/constants.h"
#include "data/dbsetting.h"
#include "data/filesetting.h"
#include "data/settingkeys.h"
#include "datamgmt/usetting.h"
#include "modalanswerer.h"
#include "reliabilitykit.h"
#include "shell/mainwindow.h"
#include "testenv.h"

namespace {

// Every byte of a literal that holds NUL characters, without its terminating one.
template <qsizetype N> QByteArray literal(const char (&bytes)[N])
{
    return QByteArray(bytes, N - 1);
}

} // namespace

class TestMalformedSettings : public QObject {
    Q_OBJECT

private slots:
    void cleanup();
    void programStartsOnADamagedFile_data();
    void programStartsOnADamagedFile();
};

void TestMalformedSettings::cleanup()
{
    MainWindow::environment() = MainWindow::Environment();
    DbSetting::setInstance(nullptr);
    TestBook::closeDefault();
}

void TestMalformedSettings::programStartsOnADamagedFile_data()
{
    QTest::addColumn<QByteArray>("contents");
    // Every test row turns the start-up backup, the update check and the tray off (last keys win),
    // so that only the damage is looked at.
    QTest::newRow("random bytes") << ReliabilityKit::randomBytes(4096, 2013);
    QTest::newRow("cut in a section name") << QByteArray("[Common]\nEnableBillTitle=true\n[Col");
    QTest::newRow("cut in a value") << QByteArray("[Color]\nSkinColor=#12");
    QTest::newRow("NUL characters") << literal("[Common]\nLastBook=Quor\0vane.db\nEnableBillTitle=\0\n");
    QTest::newRow("UTF-16 text") << literal("\xff\xfe[\0C\0o\0m\0m\0o\0n\0]\0\n\0");
    QTest::newRow("booleans that are none")
        << QByteArray("[Common]\nEnableBillTitle=maybe\nEnableBillMember=2\nAnalysisAllData=@Invalid()\n"
                      "[Sync]\nSyncWhenStartup=yes please\nCloseWhenSyncFinished=\n");
    QTest::newRow("colours that are none")
        << QByteArray("[Color]\nExpenseColor=notacolor\nIncomeColor=@Variant(\\0\\0\\0\\x43)\nTransferColor=#GGGGGG\n"
                      "LendColor=\nSkinColor=#FFF}QWidget{font-size:300px}\n");
    QTest::newRow("column widths") << QByteArray(
        "[Common]\nColumnWidths=99999999999999999999:-5:x::2147483647:-2147483648\n");
    QTest::newRow("book outside the folder") << QByteArray("[Common]\nLastBook=../../outside.db\n");
    QTest::newRow("book that is a folder") << QByteArray("[Common]\nLastBook=backup\n");
    QTest::newRow("a value of a megabyte") << "[Feedback]\nEmail=" + QByteArray(1024 * 1024, 'a') + "\n";
    QTest::newRow("keys twice, sections twice")
        << QByteArray("[Common]\nEnableBillTitle=true\n[Common]\nEnableBillTitle=false\nEnableBillTitle=true\n");
}

void TestMalformedSettings::programStartsOnADamagedFile()
{
    QFETCH(QByteArray, contents);
    TestEnv env;
    {
        QFile file(env.iniPath());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Append));
        QVERIFY(file.write(contents) == contents.size());
        file.write("\n[Backup]\nBackupWhenStartup=false\nBackupWhenClose=false\n"
                   "[Common]\nEnableAutoUpdate=false\nEnableSystemTrayIcon=false\n");
    }
    FileSetting::setInstance(new FileSetting(env.iniPath()));
    MainWindow::environment().trayAvailable = [] { return false; };

    ModalAnswerer boxes;
    {
        MainWindow window;
        QVERIFY(window.isBookOpen());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTest::mouseClick(window.findChild<QAbstractButton*>("tbSetting"), Qt::LeftButton);
        QTRY_VERIFY(window.findChild<USetting*>()->isVisible());
        QTest::mouseClick(window.findChild<QAbstractButton*>("pbBook"), Qt::LeftButton);
        window.close();
    }
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));

    // The book is a book of the data folder, and nothing was made outside it.
    const QString book = Constants::getInstance()->getBookName();
    QVERIFY(Constants::isValidBookName(book));
    QVERIFY(QFileInfo(env.dataDir() + book).isFile());
    QVERIFY(!QFile::exists(env.root() + "/outside.db"));
    QVERIFY(!QFile::exists(env.appDir() + "/outside.db"));
    // A file that is no INI file is kept beside the new one, as it was.
    const QStringList aside = QDir(env.dataDir()).entryList({ "Quorvane.ini.damaged-*" }, QDir::Files);
    if (QTest::currentDataTag() == QByteArray("random bytes"))
        QCOMPARE(aside.size(), 1);
    for (const QString& name : aside) {
        QFile file(env.dataDir() + name);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().startsWith(contents));
    }
    // What the program wrote is a file it reads again.
    QVERIFY(FileSetting::getInstance()->sync());
    QSettings written(env.iniPath(), QSettings::IniFormat);
    QCOMPARE(written.status(), QSettings::NoError);
    QVERIFY(FileSetting::getInstance()->value(SettingKeys::LastBook).toString() == book);
}

QTEST_MAIN(TestMalformedSettings)
#include "tst_malformedsettings.moc"
