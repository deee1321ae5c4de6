#include <QColor>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include "data/constants.h"
#include "data/filesetting.h"
#include "data/settingkeys.h"
#include "testenv.h"

class TestFileSetting : public QObject
{
    Q_OBJECT

private slots:
    void defaultsOnAFreshInstallation_data();
    void defaultsOnAFreshInstallation();
    void backupDirDefaultsToTheBackupFolder();
    void columnWidthsAreStoredAsText_data();
    void columnWidthsAreStoredAsText();
    void columnWidthsAreReadBack_data();
    void columnWidthsAreReadBack();
    void syncSwitchesReachTheFile();
    void valuesKeepTheirTypes();
    void missingOrUnreadableFileGivesDefaults_data();
    void missingOrUnreadableFileGivesDefaults();
    void fileIsPrivateToItsOwner();
    void olderFileBecomesPrivateWhenWritten();
};

void TestFileSetting::defaultsOnAFreshInstallation_data()
{
    using namespace SettingKeys;
    QTest::addColumn<QString>("key");
    QTest::addColumn<QVariant>("expected");
    QTest::newRow("last book") << LastBook << QVariant("Quorvane.db");
    QTest::newRow("bill title") << EnableBillTitle << QVariant(false);
    QTest::newRow("bill member") << EnableBillMember << QVariant(true);
    QTest::newRow("analysis all data") << AnalysisAllData << QVariant(false);
    QTest::newRow("tray") << EnableSystemTrayIcon << QVariant(false);
    QTest::newRow("auto update") << EnableAutoUpdate << QVariant(true);
    QTest::newRow("continue") << EnableBillEnterContinue << QVariant(false);
    QTest::newRow("proxy") << EnableHttpProxy << QVariant(false);
    QTest::newRow("expense colour") << ExpenseColor << QVariant(QColor("#FF0000"));
    QTest::newRow("income colour") << IncomeColor << QVariant(QColor("#00FF00"));
    QTest::newRow("transfer colour") << TransferColor << QVariant(QColor("#FFFF00"));
    QTest::newRow("lend colour") << LendColor << QVariant(QColor("#A0A0A4"));
    QTest::newRow("borrow colour") << BorrowColor << QVariant(QColor("#C0C0C0"));
    QTest::newRow("refund colour") << RefundColor << QVariant(QColor("#A0A0A4"));
    QTest::newRow("repay colour") << RepayColor << QVariant(QColor("#C0C0C0"));
    QTest::newRow("skin") << SkinColor << QVariant("#FFFFFF");
    QTest::newRow("sync at start") << SyncWhenStartup << QVariant(false);
    QTest::newRow("sync at close") << SyncWhenClose << QVariant(false);
    QTest::newRow("close after sync") << CloseWhenSyncFinished << QVariant(false);
    QTest::newRow("backup at start") << BackupWhenStartup << QVariant(true);
    QTest::newRow("backup at close") << BackupWhenClose << QVariant(true);
    QTest::newRow("backup before sync") << BackupBeforeSync << QVariant(true);
    QTest::newRow("backup after sync") << BackupAfterSync << QVariant(true);
    QTest::newRow("feedback e-mail") << FeedbackEmail << QVariant(QString());
}

void TestFileSetting::defaultsOnAFreshInstallation()
{
    QFETCH(QString, key);
    QFETCH(QVariant, expected);
    TestEnv env;
    FileSetting* settings = FileSetting::getInstance();
    const QVariant actual = settings->value(key);
    if (expected.typeId() == QMetaType::QColor)
        QCOMPARE(actual.value<QColor>(), expected.value<QColor>());
    else if (expected.typeId() == QMetaType::Bool)
        QCOMPARE(actual.toBool(), expected.toBool());
    else
        QCOMPARE(actual.toString(), expected.toString());
    QVERIFY(!QSettings(env.iniPath(), QSettings::IniFormat).contains(key));
}

void TestFileSetting::backupDirDefaultsToTheBackupFolder()
{
    TestEnv env;
    QCOMPARE(FileSetting::getInstance()->value(SettingKeys::BackupDir).toString(),
        Constants::getInstance()->getBackupDir());
}

void TestFileSetting::columnWidthsAreStoredAsText_data()
{
    QTest::addColumn<QList<int>>("widths");
    QTest::addColumn<QString>("text");
    QTest::newRow("four columns") << QList<int> { 200, 130, 100, 40 } << "200:130:100:40";
    QTest::newRow("negative") << QList<int> { -5, 7 } << "-5:7";
    QTest::newRow("none") << QList<int> {} << "";
}

void TestFileSetting::columnWidthsAreStoredAsText()
{
    QFETCH(QList<int>, widths);
    QFETCH(QString, text);
    TestEnv env;
    FileSetting::getInstance()->setColumnWidths(widths);
    QVERIFY(FileSetting::getInstance()->sync());
    QCOMPARE(QSettings(env.iniPath(), QSettings::IniFormat).value(SettingKeys::ColumnWidths).toString(), text);
    QCOMPARE(FileSetting::getInstance()->getColumnWidths(), widths);
}

void TestFileSetting::columnWidthsAreReadBack_data()
{
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<QList<int>>("widths");
    QTest::newRow("empty middle part") << QVariant("200::40") << QList<int> { 200, 0, 40 };
    QTest::newRow("trailing separator") << QVariant("200:") << QList<int> { 200, 0 };
    QTest::newRow("not a number") << QVariant("a:5") << QList<int> { 0, 5 };
    QTest::newRow("one separator only") << QVariant(":") << QList<int> { 0, 0 };
    QTest::newRow("empty") << QVariant("") << QList<int> {};
    QTest::newRow("absent") << QVariant() << QList<int> {};
}

void TestFileSetting::columnWidthsAreReadBack()
{
    QFETCH(QVariant, stored);
    QFETCH(QList<int>, widths);
    TestEnv env;
    if (stored.isValid())
        FileSetting::getInstance()->setValue(SettingKeys::ColumnWidths, stored);
    QCOMPARE(FileSetting::getInstance()->getColumnWidths(), widths);
}

void TestFileSetting::syncSwitchesReachTheFile()
{
    TestEnv env;
    FileSetting* settings = FileSetting::getInstance();
    QVERIFY(!settings->getSyncWhenClose());
    settings->setSyncWhenClose(true);
    settings->setSyncWhenStartup(true);
    settings->setCloseWhenSyncFinished(false);
    QVERIFY(settings->sync());

    FileSetting second(env.iniPath());
    QVERIFY(second.getSyncWhenClose());
    QVERIFY(second.getSyncWhenStartup());
    QVERIFY(!second.getCloseWhenSyncFinished());
}

void TestFileSetting::valuesKeepTheirTypes()
{
    TestEnv env;
    FileSetting::getInstance()->setValue(SettingKeys::ExpenseColor, QColor(0x12, 0x34, 0x56));
    FileSetting::getInstance()->setValue(SettingKeys::SkinColor, "#1A2B3C");
    FileSetting::getInstance()->setValue(SettingKeys::FeedbackEmail, "王@例子.cn");
    QVERIFY(FileSetting::getInstance()->sync());

    FileSetting second(env.iniPath());
    QCOMPARE(second.value(SettingKeys::ExpenseColor).value<QColor>(), QColor(0x12, 0x34, 0x56));
    QCOMPARE(second.value(SettingKeys::SkinColor).toString(), QString("#1A2B3C"));
    QCOMPARE(second.value(SettingKeys::FeedbackEmail).toString(), QString("王@例子.cn"));
}

void TestFileSetting::missingOrUnreadableFileGivesDefaults_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("missing folder") << "missing";
    QTest::newRow("folder in its place") << "folder";
    QTest::newRow("garbage") << "garbage";
}

void TestFileSetting::missingOrUnreadableFileGivesDefaults()
{
    QFETCH(QString, kind);
    QTemporaryDir tmp;
    QString path = tmp.path() + "/Quorvane.ini";
    if (kind == "missing") {
        path = tmp.path() + "/not/yet/Quorvane.ini";
    } else if (kind == "folder") {
        QVERIFY(QDir().mkpath(path));
    } else {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("\x01\x02[[[\n=\xff\xfe garbage\n[Common\nEnableBillMember\n");
    }
    FileSetting settings(path);
    QCOMPARE(settings.value(SettingKeys::EnableBillMember).toBool(), true);
    QCOMPARE(settings.value(SettingKeys::SkinColor).toString(), QString("#FFFFFF"));
    QVERIFY(settings.getColumnWidths().isEmpty());
    // Values written in this run are still read back in this run, whether or not the file takes them.
    settings.setValue(SettingKeys::SkinColor, "#000000");
    QCOMPARE(settings.value(SettingKeys::SkinColor).toString(), QString("#000000"));
    QCOMPARE(settings.sync(), kind != "folder");
    if (kind == "garbage") {
        // The damaged file is kept aside, not overwritten.
        const QStringList aside = QDir(tmp.path()).entryList({ "Quorvane.ini.damaged-*" });
        QCOMPARE(aside.size(), 1);
        QFile kept(tmp.path() + "/" + aside.first());
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QVERIFY(kept.readAll().contains("garbage"));
        QVERIFY(!(QFileInfo(path).permissions() & QFileDevice::ReadOther));
    }
}

void TestFileSetting::fileIsPrivateToItsOwner()
{
    TestEnv env;
    FileSetting::getInstance()->setValue(SettingKeys::SkinColor, "#123456");
    QVERIFY(FileSetting::getInstance()->sync());
    const QFile::Permissions perms = QFileInfo(env.iniPath()).permissions();
    QVERIFY(perms & QFileDevice::WriteOwner);
    QVERIFY(!(perms & (QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ReadGroup | QFileDevice::WriteGroup)));
}

void TestFileSetting::olderFileBecomesPrivateWhenWritten()
{
    QTemporaryDir tmp;
    const QString path = tmp.path() + "/Quorvane.ini";
    const QFile::Permissions shared = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser
        | QFileDevice::WriteUser | QFileDevice::ReadGroup | QFileDevice::ReadOther;
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[Common]\nLastBook=a.db\n");
    }
    QVERIFY(QFile::setPermissions(path, shared));

    FileSetting settings(path);
    QCOMPARE(settings.value(SettingKeys::LastBook).toString(), QString("a.db"));
    QCOMPARE(QFileInfo(path).permissions(), shared); // only read so far
    settings.setValue(SettingKeys::SkinColor, "#123456");
    QVERIFY(settings.sync());
    QCOMPARE(QFileInfo(path).permissions(),
        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser | QFileDevice::WriteUser);
    QCOMPARE(QSettings(path, QSettings::IniFormat).value("Color/SkinColor").toString(), QString("#123456"));
}

QTEST_GUILESS_MAIN(TestFileSetting)
#include "tst_filesetting.moc"
