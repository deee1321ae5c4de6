#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QTest>

#include "data/constants.h"
#include "data/dbhelper.h"
#include "data/dbsetting.h"
#include "data/filesetting.h"
#include "datamgmt/usetting.h"
#include "modalanswerer.h"
#include "testenv.h"

// A password set on the settings page guards the next start of the real program. The program runs
// offscreen from a program folder of its own; a small library loaded into it (logindriver.cpp)
// plays the user at its login dialog and reports what it saw.
class TestSettingLogin : public QObject {
    Q_OBJECT

private slots:
    void nextStart_data();
    void nextStart();
};

void TestSettingLogin::nextStart_data()
{
    QTest::addColumn<QString>("password"); // typed twice on the page
    QTest::addColumn<QStringList>("tries"); // typed at the login, in order
    QTest::addColumn<QStringList>("seen");

    QTest::newRow("a password: wrong, then right")
        << "s3cret 密" << QStringList { "wrong", "s3cret 密" }
        << QStringList { "login Quorvane | password asked", "try wrong", "box 密码错误 | 您输入的密码有错误！",
               "try s3cret 密", "main window" };
    QTest::newRow("a password: only wrong ones") << "s3cret" << QStringList { "S3CRET" }
                                                 << QStringList { "login Quorvane | password asked", "try S3CRET",
                                                        "box 密码错误 | 您输入的密码有错误！", "cancel" };
    QTest::newRow("both fields empty: no password") << "" << QStringList() << QStringList { "main window" };
}

void TestSettingLogin::nextStart()
{
    QFETCH(QString, password);
    QFETCH(QStringList, tries);
    QFETCH(QStringList, seen);

    TestEnv env;
    const QString bookPath = env.dataDir() + "Quorvane.db";
    {
        TestBook book(bookPath);
        QVERIFY(book.isOpen());
        QVERIFY(DBHelper::getInstance()->upgrade());
        QVERIFY(DBHelper::getInstance()->initDefaultData(QString()));
        QVERIFY(Constants::getInstance()->setBookName("Quorvane.db"));
        // An earlier password, which the page replaces.
        DbSetting::getInstance()->setPassword("earlier");
        QVERIFY(DbSetting::getInstance()->save());
        DbSetting::setInstance(nullptr);

        USetting page(nullptr);
        page.show();
        QCOMPARE(page.findChild<QLineEdit*>("lePassword")->text(), QString("earlier"));
        for (const char* name : { "lePassword", "lePassword_2" }) {
            auto* field = page.findChild<QLineEdit*>(name);
            field->clear();
            field->insert(password);
        }
        ModalAnswerer boxes;
        boxes.expect("设置密码成功", "您已经成功设置登陆密码，将在下次启动时生效！", "确定");
        page.findChild<QPushButton*>("pbOK")->click();
        QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    }
    QVERIFY(FileSetting::getInstance()->sync());

    const QString program = env.appDir() + "/quorvane";
    QVERIFY(QFile::copy(QStringLiteral(QUORVANE_EXECUTABLE), program));
    const QString report = env.root() + "/driver-report.txt";
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", env.root());
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("LD_PRELOAD", QStringLiteral(QUORVANE_LOGIN_DRIVER));
    environment.insert("QUORVANE_DRIVER_REPORT", report);
    environment.insert("QUORVANE_DRIVER_PASSWORDS", tries.join('\n'));
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, {});
    QVERIFY(process.waitForStarted());
    const auto stop = qScopeGuard([&process] {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
        }
    });
    QVERIFY(process.waitForFinished(60000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);

    QFile file(report);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts), seen);
}

QTEST_MAIN(TestSettingLogin)
#include "tst_settinglogin.moc"
