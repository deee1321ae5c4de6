#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSqlDatabase>
#include <QTest>

#include "data/constants.h"
#include "data/dbsetting.h"
#include "data/filesetting.h"
#include "data/settingkeys.h"
#include "modalanswerer.h"
#include "testenv.h"
#include "widgets/dlogin.h"
#include "widgettest.h"

namespace {
// A book from the template, with a login password stored the way the program stores it (a null
// QVariant leaves the column NULL) and a modification time secondsAgo in the past.
bool makeBook(const QString& path, const QVariant& storedPassword, int secondsAgo)
{
    return WidgetTest::makeBook(path, storedPassword) && WidgetTest::setModified(path, secondsAgo);
}

QStringList folderEntries(const QString& dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}
}

class TestDLogin : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void listsBooksNewestFirst();
    void preselection_data();
    void preselection();
    void passwordField_data();
    void passwordField();
    void wrongThenRightPassword();
    void typedTextIgnoredForABookWithoutPassword();
    void ending_data();
    void ending();
    void bookThatCannotBeOpened();

private:
    QComboBox* books(DLogin& dialog) { return dialog.findChild<QComboBox*>(QStringLiteral("cbDbList")); }
    QLineEdit* password(DLogin& dialog) { return dialog.findChild<QLineEdit*>(QStringLiteral("lePassword")); }
    QPushButton* button(DLogin& dialog, const char* name)
    {
        return dialog.findChild<QPushButton*>(QString::fromLatin1(name));
    }

    TestEnv* env = nullptr;
    QString dir;
};

void TestDLogin::init()
{
    env = new TestEnv;
    dir = Constants::getInstance()->getDbDir();
}

void TestDLogin::cleanup()
{
    QVERIFY2(QSqlDatabase::connectionNames().isEmpty(), "a probe left its connection behind");
    delete env;
    env = nullptr;
}

void TestDLogin::listsBooksNewestFirst()
{
    QVERIFY(makeBook(dir + "家庭.db", QVariant(), 300));
    QVERIFY(makeBook(dir + "Work.db", QVariant(), 100));
    QVERIFY(makeBook(dir + "Old.db", QVariant(), 900));
    QFile(dir + "notes.txt").open(QIODevice::WriteOnly);
    QDir().mkpath(dir + "folder.db");

    ModalAnswerer boxes;
    DLogin dialog(nullptr, QString());
    QCOMPARE(WidgetTest::itemTexts(books(dialog)), QStringList({ "Work", "家庭", "Old" }));
    QCOMPARE(books(dialog)->itemData(1).toString(), QStringLiteral("家庭.db"));
    QCOMPARE(dialog.property("style").toString(), QStringLiteral("dialog"));
    QVERIFY(dialog.windowFlags().testFlag(Qt::FramelessWindowHint));
}

void TestDLogin::preselection_data()
{
    QTest::addColumn<QString>("passedIn");
    QTest::addColumn<QVariant>("lastBook");
    QTest::addColumn<QString>("current");

    QTest::newRow("the book passed in wins over the last book") << "Old.db" << QVariant("New.db") << "Old";
    QTest::newRow("the last book when none is passed in") << "" << QVariant("Old.db") << "Old";
    QTest::newRow("no last book: the newest") << "" << QVariant() << "New";
    QTest::newRow("a last book that no longer exists") << "" << QVariant("Gone.db") << "New";
    QTest::newRow("an empty last book") << "" << QVariant("") << "New";
    QTest::newRow("names differ only in case") << "" << QVariant("old.db") << "New";
    QTest::newRow("a passed-in book that does not exist") << "Gone.db" << QVariant("Old.db") << "New";
}

void TestDLogin::preselection()
{
    QFETCH(QString, passedIn);
    QFETCH(QVariant, lastBook);
    QFETCH(QString, current);

    QVERIFY(makeBook(dir + "Old.db", QVariant(), 600));
    QVERIFY(makeBook(dir + "New.db", QVariant(), 60));
    if (lastBook.isValid())
        FileSetting::getInstance()->setValue(SettingKeys::LastBook, lastBook);
    FileSetting::getInstance()->sync();
    const QStringList before = folderEntries(dir);

    ModalAnswerer boxes;
    DLogin dialog(nullptr, passedIn);
    QCOMPARE(books(dialog)->currentText(), current);
    QVERIFY(button(dialog, "pbOK")->isEnabled());
    QVERIFY(!password(dialog)->isEnabled());
    // Probing every book on the way opened them read-only: no file appeared or changed name.
    QCOMPARE(folderEntries(dir), before);
}

void TestDLogin::passwordField_data()
{
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<bool>("enabled");
    QTest::newRow("NULL password") << QVariant() << false;
    QTest::newRow("empty password") << QVariant("") << false;
    QTest::newRow("password") << QVariant(scramblePassword("secret")) << true;
    QTest::newRow("stored form tampered with") << QVariant("00000secret00000") << false;
}

void TestDLogin::passwordField()
{
    QFETCH(QVariant, stored);
    QFETCH(bool, enabled);
    QVERIFY(makeBook(dir + "Book.db", stored, 60));
    ModalAnswerer boxes;
    DLogin dialog(nullptr, QString());
    QCOMPARE(password(dialog)->isEnabled(), enabled);
}

void TestDLogin::wrongThenRightPassword()
{
    QVERIFY(makeBook(dir + "Locked.db", scramblePassword("pw"), 60));
    FileSetting::getInstance()->setValue(SettingKeys::LastBook, "Other.db");

    ModalAnswerer boxes;
    DLogin dialog(nullptr, QString());
    dialog.show();
    QVERIFY(password(dialog)->isEnabled());
    QTest::keyClicks(password(dialog), "PW");

    boxes.expect(QStringLiteral("密码错误"), QStringLiteral("您输入的密码有错误！"), QStringLiteral("确定"));
    button(dialog, "pbOK")->click();
    QVERIFY2(boxes.waitAnswered(), qPrintable(boxes.report()));
    QVERIFY(dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QCOMPARE(password(dialog)->text(), QStringLiteral("PW"));
    QCOMPARE(FileSetting::getInstance()->value(SettingKeys::LastBook).toString(), QStringLiteral("Other.db"));

    password(dialog)->setText("pw");
    button(dialog, "pbOK")->click();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(Constants::getInstance()->getBookName(), QStringLiteral("Locked.db"));
    QCOMPARE(FileSetting::getInstance()->value(SettingKeys::LastBook).toString(), QStringLiteral("Locked.db"));
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
}

void TestDLogin::typedTextIgnoredForABookWithoutPassword()
{
    QVERIFY(makeBook(dir + "Locked.db", scramblePassword("pw"), 60));
    QVERIFY(makeBook(dir + "Open.db", QVariant(), 600));

    ModalAnswerer boxes;
    DLogin dialog(nullptr, QStringLiteral("Locked.db"));
    QTest::keyClicks(password(dialog), "wrong");
    books(dialog)->setCurrentIndex(books(dialog)->findData("Open.db"));
    QVERIFY(!password(dialog)->isEnabled());
    button(dialog, "pbOK")->click();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(Constants::getInstance()->getBookName(), QStringLiteral("Open.db"));
}

void TestDLogin::ending_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("lastBook");
    QTest::newRow("确定") << "确定" << 1 << "Second.db";
    QTest::newRow("取消") << "取消" << 0 << "";
    QTest::newRow("title strip close") << "strip" << 0 << "";
    QTest::newRow("Escape") << "escape" << 0 << "";
}

void TestDLogin::ending()
{
    QFETCH(QString, how);
    QFETCH(int, result);
    QFETCH(QString, lastBook);
    QVERIFY(makeBook(dir + "First.db", QVariant(), 60));
    QVERIFY(makeBook(dir + "Second.db", QVariant(), 600));

    ModalAnswerer boxes;
    boxes.expect(ModalAnswerer::ofClass("DLogin"), ModalAnswerer::named(how));
    DLogin dialog(nullptr, QStringLiteral("Second.db"));
    QCOMPARE(dialog.exec(), result);
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QCOMPARE(FileSetting::getInstance()->value(SettingKeys::LastBook, QString()).toString(), lastBook);
}

void TestDLogin::bookThatCannotBeOpened()
{
    QVERIFY(makeBook(dir + "Good.db", QVariant(), 60));
    QVERIFY(makeBook(dir + "Locked.db", scramblePassword("pw"), 600));

    ModalAnswerer boxes;
    DLogin dialog(nullptr, QStringLiteral("Locked.db"));
    QVERIFY(password(dialog)->isEnabled());
    QVERIFY(QFile::remove(dir + "Good.db"));

    boxes.expect(
        [](QWidget* modal) {
            return ModalAnswerer::titleOf(modal) == QStringLiteral("数据文件错误")
                && ModalAnswerer::textOf(modal).startsWith(QStringLiteral("打开数据文件出现错误。"));
        },
        ModalAnswerer::press(QStringLiteral("确定")), QStringLiteral("数据文件错误"));
    books(dialog)->setCurrentIndex(books(dialog)->findData("Good.db"));
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));

    // Neither the locked book's password nor an unlocked open of an unreadable book survive.
    QVERIFY(!button(dialog, "pbOK")->isEnabled());
    QVERIFY(!QFile::exists(dir + "Good.db"));

    books(dialog)->setCurrentIndex(books(dialog)->findData("Locked.db"));
    QVERIFY(button(dialog, "pbOK")->isEnabled());
    QVERIFY(password(dialog)->isEnabled());
}

QTEST_MAIN(TestDLogin)
#include "tst_dlogin.moc"
