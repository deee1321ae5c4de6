#include <QAbstractButton>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QSettings>
#include <QSpinBox>
#include <QSqlDatabase>
#include <QTabWidget>
#include <QTest>
#include <memory>

#include "bills/dbill.h"
#include "bills/mbillmodel.h"
#include "data/constants.h"
#include "data/dbhelper.h"
#include "data/dbsetting.h"
#include "data/filesetting.h"
#include "data/maccount.h"
#include "data/mcategory.h"
#include "data/mmember.h"
#include "data/settingkeys.h"
#include "data/sqlhelper.h"
#include "datamgmt/qcolorbutton.h"
#include "datamgmt/usetting.h"
#include "modalanswerer.h"
#include "notifierrecorder.h"
#include "shell/startup.h"
#include "shell/utitlebar.h"
#include "testenv.h"
#include "widgettest.h"

namespace {

const QString nameDialogTitle = QStringLiteral("新建账本");
const QString openBookName = QStringLiteral("Home");

// The name dialog of create and rename, starting with shown (empty to create, the book's name to
// rename), answered with text (accepted) or cancelled (null text).
void answerNameDialog(ModalAnswerer& boxes, const QString& text, const QString& shown = QString())
{
    boxes.expect(
        [shown](QWidget* modal) {
            auto* dialog = qobject_cast<QInputDialog*>(modal);
            return dialog && dialog->windowTitle() == nameDialogTitle
                && dialog->labelText() == QStringLiteral("请输入新账本的名称：") && dialog->textValue() == shown
                && dialog->textEchoMode() == QLineEdit::Normal;
        },
        [text](QWidget* modal) {
            auto* buttons = modal->findChild<QDialogButtonBox*>();
            if (text.isNull()) {
                buttons->button(QDialogButtonBox::Cancel)->click();
                return;
            }
            modal->findChild<QLineEdit*>()->setText(text);
            buttons->button(QDialogButtonBox::Ok)->click();
        },
        QStringLiteral("name dialog → ") + (text.isNull() ? QStringLiteral("cancel") : text));
}

// A book from the template holding one member whose name is the book's own, so that a test sees
// which file ended where and that none was overwritten.
bool makeMarkedBook(const QString& path, const QString& mark, int secondsAgo)
{
    return TestBook::copyTemplate(path)
        && withBookConnection(path, QStringLiteral("mark"), BookAccess::ReadWrite,
            [&](QSqlDatabase& db) {
                return execWrite(db, QStringLiteral("insert into tbl_member (id, name) values ('mark', ?)"), { mark });
            })
        && WidgetTest::setModified(path, secondsAgo);
}

// Types text into a field key by key, also characters beyond Latin-1.
void typeInto(QLineEdit* field, const QString& text)
{
    for (const QChar c : text)
        QTest::sendKeyEvent(QTest::Click, field, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

QString markOf(const QString& path)
{
    return valueIn(path, QStringLiteral("select name from tbl_member where id='mark'")).toString();
}

QStringList filesIn(const QString& dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

QStringList bookFiles(const QString& dir)
{
    return QDir(dir).entryList({ QStringLiteral("*.db*") }, QDir::Files, QDir::Name);
}

QStringList itemTexts(const QListWidget* list)
{
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts << list->item(i)->text();
    return texts;
}

QStringList recordNames()
{
    QStringList names;
    for (const MAccount* account : *MAccount::get())
        names << account->getName();
    for (const MCategory* category : *MCategory::get(QStringLiteral("expense")))
        names << category->getName();
    for (const MMember* member : *MMember::get())
        names << member->getName();
    return names;
}

} // namespace

class TestUSetting : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void freshSettings();
    void storedSettings();
    void optionBoxes_data();
    void optionBoxes();
    void proxyFieldsAreNotKept();
    void colours_data();
    void colours();
    void readersFollowThePage();
    void password_data();
    void password();
    void failedPasswordSave();

    void bookList();
    void create_data();
    void create();
    void createRefused_data();
    void createRefused();
    void rename_data();
    void rename();
    void remove_data();
    void remove();
    void titleBarFollows();
    void heldBook_data();
    void heldBook();
    void createWhereNothingCanBeWritten_data();
    void createWhereNothingCanBeWritten();

private:
    template <typename T> T* child(QWidget* page, const QString& name)
    {
        T* widget = page->findChild<T*>(name);
        if (!widget)
            qFatal("no %s", qPrintable(name));
        return widget;
    }
    QListWidget* books(QWidget* page) { return child<QListWidget>(page, QStringLiteral("lwBookList")); }
    void click(QWidget* page, const QString& name) { child<QAbstractButton>(page, name)->click(); }
    // Shows the book tab and picks the book by a click on its item.
    void choose(USetting& page, const QString& book);
    QColor storedColour(const QString& key) const;
    void storePassword(const QString& password);

    TestEnv* env = nullptr;
    TestBook* book = nullptr;
    QString dir;
};

void TestUSetting::init()
{
    env = new TestEnv;
    dir = Constants::getInstance()->getDbDir();
    book = new TestBook(dir + "Home.db");
    QVERIFY(book->isOpen());
    QVERIFY(DBHelper::getInstance()->upgrade());
    QVERIFY(DBHelper::getInstance()->initDefaultData(QString()));
    QVERIFY(Constants::getInstance()->setBookName("Home.db"));
    QVERIFY(WidgetTest::setModified(book->path(), 500));
}

void TestUSetting::cleanup()
{
    delete book;
    book = nullptr;
    TestBook::resetRecordCaches();
    delete env;
    env = nullptr;
}

void TestUSetting::choose(USetting& page, const QString& name)
{
    child<QTabWidget>(&page, "tabWidget")->setCurrentIndex(4);
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    const QList<QListWidgetItem*> found = books(&page)->findItems(name, Qt::MatchExactly | Qt::MatchCaseSensitive);
    QCOMPARE(found.size(), 1);
    QListWidget* list = books(&page);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(found.first()).center());
    QCOMPARE(list->currentItem(), found.first());
}

QColor TestUSetting::storedColour(const QString& key) const
{
    // What the file holds, as the next start reads it.
    FileSetting::getInstance()->sync();
    return QSettings(env->iniPath(), QSettings::IniFormat).value(key).value<QColor>();
}

void TestUSetting::storePassword(const QString& password)
{
    DbSetting::getInstance()->setPassword(password);
    QVERIFY(DbSetting::getInstance()->save());
    // The page reads the row as a new run of the program would.
    DbSetting::setInstance(nullptr);
}

void TestUSetting::freshSettings()
{
    USetting page(nullptr);
    QCOMPARE(child<QTabWidget>(&page, "tabWidget")->currentIndex(), 0);
    const QStringList tabs = { "常规选项", "代理设置", "密码保护", "账目颜色", "账本管理" };
    for (int i = 0; i < tabs.size(); ++i)
        QCOMPARE(child<QTabWidget>(&page, "tabWidget")->tabText(i), tabs.at(i));

    const QList<std::pair<const char*, bool>> boxes
        = { { "cbEnableBillTitle", false }, { "cbEnableBillMember", true }, { "cbAnalysisAllData", false },
              { "cbEnableSystemTrayIcon", false }, { "cbEnableAutoUpdate", true }, { "cbEnableHttpProxy", false } };
    for (const auto& [name, checked] : boxes)
        QVERIFY2(child<QCheckBox>(&page, name)->isChecked() == checked, name);
    for (const char* field : { "leProxyUrl", "sbProxyPort", "leProxyUsername", "leProxyPassword" })
        QVERIFY2(!child<QWidget>(&page, field)->isEnabled(), field);

    const QList<std::pair<const char*, const char*>> colours = { { "cbExpenseColor", "#ff0000" },
        { "cbIncomeColor", "#00ff00" }, { "cbTransferColor", "#ffff00" }, { "cbLendColor", "#a0a0a4" },
        { "cbBorrowColor", "#c0c0c0" }, { "cbRefundColor", "#a0a0a4" }, { "cbRepayColor", "#c0c0c0" } };
    for (const auto& [name, colour] : colours) {
        auto* button = child<QColorButton>(&page, name);
        QCOMPARE(button->color().name(), QString(colour));
        QCOMPARE(button->toolTip(), QString(colour));
        QCOMPARE(button->icon().pixmap(16, 16).toImage().pixelColor(8, 8), QColor(colour));
    }
    QCOMPARE(child<QColorButton>(&page, "cbExpenseColor")->text(), QString("选择支出账目标记颜色"));

    QCOMPARE(child<QLineEdit>(&page, "lePassword")->text(), QString());
    QCOMPARE(child<QLineEdit>(&page, "lePassword_2")->echoMode(), QLineEdit::Password);
    QCOMPARE(itemTexts(books(&page)), QStringList { openBookName });
    QVERIFY(!books(&page)->currentItem());

    // Loading wrote nothing.
    FileSetting::getInstance()->sync();
    QCOMPARE(QSettings(env->iniPath(), QSettings::IniFormat).allKeys(), QStringList());
}

void TestUSetting::storedSettings()
{
    FileSetting* settings = FileSetting::getInstance();
    for (const QString& key : { SettingKeys::EnableBillTitle, SettingKeys::AnalysisAllData,
             SettingKeys::EnableSystemTrayIcon, SettingKeys::EnableHttpProxy })
        settings->setValue(key, true);
    settings->setValue(SettingKeys::EnableBillMember, false);
    settings->setValue(SettingKeys::EnableAutoUpdate, false);
    settings->setValue(SettingKeys::ExpenseColor, QColor("#0000ff"));
    settings->setValue(SettingKeys::IncomeColor, "#123456");
    settings->setValue(SettingKeys::TransferColor, "no colour");
    storePassword("秘密 pass");

    USetting page(nullptr);
    for (const char* name : { "cbEnableBillTitle", "cbAnalysisAllData", "cbEnableSystemTrayIcon", "cbEnableHttpProxy" })
        QVERIFY2(child<QCheckBox>(&page, name)->isChecked(), name);
    QVERIFY(!child<QCheckBox>(&page, "cbEnableBillMember")->isChecked());
    QVERIFY(!child<QCheckBox>(&page, "cbEnableAutoUpdate")->isChecked());
    for (const char* field : { "leProxyUrl", "sbProxyPort", "leProxyUsername", "leProxyPassword" })
        QVERIFY2(child<QWidget>(&page, field)->isEnabled(), field);
    QCOMPARE(child<QLineEdit>(&page, "leProxyUrl")->text(), QString());
    QCOMPARE(child<QSpinBox>(&page, "sbProxyPort")->value(), 0);

    QCOMPARE(child<QColorButton>(&page, "cbExpenseColor")->color(), QColor("#0000ff"));
    QCOMPARE(child<QColorButton>(&page, "cbIncomeColor")->color(), QColor("#123456"));
    QVERIFY(!child<QColorButton>(&page, "cbTransferColor")->color().isValid());

    QCOMPARE(child<QLineEdit>(&page, "lePassword")->text(), QString("秘密 pass"));
    QCOMPARE(child<QLineEdit>(&page, "lePassword_2")->text(), QString("秘密 pass"));
}

void TestUSetting::optionBoxes_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("key");
    QTest::addColumn<bool>("initial");
    QTest::newRow("bill title") << "cbEnableBillTitle" << SettingKeys::EnableBillTitle << false;
    QTest::newRow("bill member") << "cbEnableBillMember" << SettingKeys::EnableBillMember << true;
    QTest::newRow("all data") << "cbAnalysisAllData" << SettingKeys::AnalysisAllData << false;
    QTest::newRow("tray") << "cbEnableSystemTrayIcon" << SettingKeys::EnableSystemTrayIcon << false;
    QTest::newRow("automatic update") << "cbEnableAutoUpdate" << SettingKeys::EnableAutoUpdate << true;
    QTest::newRow("proxy") << "cbEnableHttpProxy" << SettingKeys::EnableHttpProxy << false;
}

void TestUSetting::optionBoxes()
{
    QFETCH(QString, box);
    QFETCH(QString, key);
    QFETCH(bool, initial);

    USetting page(nullptr);
    page.show();
    auto* proxyUrl = child<QLineEdit>(&page, "leProxyUrl");
    const bool proxy = key == SettingKeys::EnableHttpProxy;

    click(&page, box);
    // Stored at once, in the file the next start reads.
    FileSetting::getInstance()->sync();
    QSettings ini(env->iniPath(), QSettings::IniFormat);
    QCOMPARE(ini.value(key).toBool(), !initial);
    QCOMPARE(proxyUrl->isEnabled(), proxy);

    click(&page, box);
    FileSetting::getInstance()->sync();
    ini.sync();
    QVERIFY(ini.contains(key));
    QCOMPARE(ini.value(key).toBool(), initial);
    QVERIFY(!proxyUrl->isEnabled());
}

void TestUSetting::proxyFieldsAreNotKept()
{
    {
        USetting page(nullptr);
        page.show();
        click(&page, "cbEnableHttpProxy");
        QTest::keyClicks(child<QLineEdit>(&page, "leProxyUrl"), "proxy.example");
        child<QSpinBox>(&page, "sbProxyPort")->setValue(8080);
        QTest::keyClicks(child<QLineEdit>(&page, "leProxyUsername"), "me");
        QTest::keyClicks(child<QLineEdit>(&page, "leProxyPassword"), "pw");
        QCOMPARE(child<QLineEdit>(&page, "leProxyPassword")->echoMode(), QLineEdit::Normal);
    }
    FileSetting::getInstance()->sync();
    QCOMPARE(QSettings(env->iniPath(), QSettings::IniFormat).allKeys(), QStringList({ SettingKeys::EnableHttpProxy }));

    USetting next(nullptr);
    QVERIFY(child<QLineEdit>(&next, "leProxyUrl")->isEnabled());
    QCOMPARE(child<QLineEdit>(&next, "leProxyUrl")->text(), QString());
    QCOMPARE(child<QSpinBox>(&next, "sbProxyPort")->value(), 0);
}

void TestUSetting::colours_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QColor>("initial");
    QTest::addColumn<bool>("cancel");

    const QList<std::tuple<const char*, QString, QColor>> buttons = {
        { "cbExpenseColor", SettingKeys::ExpenseColor, Qt::red },
        { "cbIncomeColor", SettingKeys::IncomeColor, Qt::green },
        { "cbTransferColor", SettingKeys::TransferColor, Qt::yellow },
        { "cbLendColor", SettingKeys::LendColor, Qt::gray },
        { "cbBorrowColor", SettingKeys::BorrowColor, Qt::lightGray },
        { "cbRefundColor", SettingKeys::RefundColor, Qt::gray },
        { "cbRepayColor", SettingKeys::RepayColor, Qt::lightGray },
    };
    for (const auto& [button, key, initial] : buttons) {
        QTest::addRow("%s chosen", button) << button << key << initial << false;
        QTest::addRow("%s cancelled", button) << button << key << initial << true;
    }
}

void TestUSetting::colours()
{
    QFETCH(QString, button);
    QFETCH(QString, key);
    QFETCH(QColor, initial);
    QFETCH(bool, cancel);
    const QColor chosen("#336699");

    USetting page(nullptr);
    page.show();
    ModalAnswerer boxes;
    boxes.expect(ModalAnswerer::ofClass("QColorDialog"), [&](QWidget* modal) {
        auto* dialog = qobject_cast<QColorDialog*>(modal);
        if (dialog->currentColor() != initial) {
            dialog->reject(); // the wrong colour offered: the comparison below fails
            return;
        }
        if (cancel) {
            QTest::keyClick(dialog, Qt::Key_Escape);
            return;
        }
        dialog->setCurrentColor(chosen);
        dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    });
    click(&page, button);
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));

    const QColor expected = cancel ? initial : chosen;
    QCOMPARE(child<QColorButton>(&page, button)->color(), expected);
    // Also a cancelled dialog writes its key: the default becomes an explicit entry.
    QCOMPARE(storedColour(key), expected);
}

void TestUSetting::readersFollowThePage()
{
    addBillRow("expense", -12.5, QDate(2013, 7, 5));
    MBillModel model;
    model.refresh();
    const QModelIndex bill = model.index(0, 0, model.index(0, 0));
    const auto square
        = [&] { return model.data(bill, Qt::DecorationRole).value<QIcon>().pixmap(10, 10).toImage().pixelColor(5, 5); };
    QCOMPARE(square(), QColor(Qt::red));

    USetting page(nullptr);
    page.show();
    ModalAnswerer boxes;
    boxes.expect(ModalAnswerer::ofClass("QColorDialog"), [](QWidget* modal) {
        qobject_cast<QColorDialog*>(modal)->setCurrentColor(QColor("#2040c0"));
        modal->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    });
    click(&page, "cbExpenseColor");
    click(&page, "cbEnableBillTitle");
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));

    // The bill list paints with the new colour at its next repaint; the next bill shows its title.
    QCOMPARE(square(), QColor("#2040c0"));
    DBill dialog(nullptr);
    QVERIFY(child<QWidget>(&dialog, "leTitle")->isVisibleTo(&dialog));
}

void TestUSetting::password_data()
{
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("repeat");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("stored");

    const QString success = QStringLiteral("设置密码成功");
    const QString successText = QStringLiteral("您已经成功设置登陆密码，将在下次启动时生效！");
    QTest::newRow("equal") << "n3w"
                           << "n3w" << success << successText << "n3w";
    QTest::newRow("equal, beyond ASCII") << "密码 ü"
                                         << "密码 ü" << success << successText << "密码 ü";
    QTest::newRow("both empty: no password") << ""
                                             << "" << success << successText << "";
    QTest::newRow("different") << "n3w"
                               << "n3W"
                               << "错误"
                               << "密码和重复密码不一致，请重新确认！"
                               << "old";
    QTest::newRow("repeat left empty") << "n3w"
                                       << ""
                                       << "错误"
                                       << "密码和重复密码不一致，请重新确认！"
                                       << "old";
}

void TestUSetting::password()
{
    QFETCH(QString, first);
    QFETCH(QString, repeat);
    QFETCH(QString, title);
    QFETCH(QString, text);
    QFETCH(QString, stored);
    storePassword("old");

    USetting page(nullptr);
    page.show();
    for (const char* name : { "lePassword", "lePassword_2" }) {
        child<QLineEdit>(&page, name)->clear();
    }
    typeInto(child<QLineEdit>(&page, "lePassword"), first);
    typeInto(child<QLineEdit>(&page, "lePassword_2"), repeat);
    ModalAnswerer boxes;
    boxes.expect(title, text, "确定");
    click(&page, "pbOK");
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));

    QCOMPARE(unscramblePassword(valueIn(book->path(), "select password from tbl_setting").toString()), stored);
    QCOMPARE(DbSetting::getInstance()->getPassword(), stored);
    QCOMPARE(child<QLineEdit>(&page, "lePassword")->text(), first);
    QCOMPARE(child<QLineEdit>(&page, "lePassword_2")->text(), repeat);
    // The next start asks for the password exactly when one is stored.
    const Startup::Choice next = Startup::chooseBook(dir, { "Home.db" }, QString());
    QCOMPARE(next.login, !stored.isEmpty());
}

void TestUSetting::failedPasswordSave()
{
    storePassword("old");
    USetting page(nullptr);
    page.show();
    QVERIFY(execAll({ "create trigger refuse before update on tbl_setting begin select raise(abort, 'locked'); end" }));
    child<QLineEdit>(&page, "lePassword")->setText("n3w");
    child<QLineEdit>(&page, "lePassword_2")->setText("n3w");

    ModalAnswerer boxes;
    boxes.expect("错误", "登陆密码没有保存：账本无法写入，原来的密码仍然有效。", "确定");
    click(&page, "pbOK");
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QCOMPARE(unscramblePassword(valueIn(book->path(), "select password from tbl_setting").toString()), QString("old"));
    // A later save of the row (the sync account, say) must not write the refused password either.
    QCOMPARE(DbSetting::getInstance()->getPassword(), QString("old"));
}

void TestUSetting::bookList()
{
    QVERIFY(WidgetTest::setModified(dir + "Old.db", 900));
    QVERIFY(WidgetTest::setModified(dir + "abc.db.db", 100));
    QVERIFY(WidgetTest::setModified(dir + "家庭.db", 300));
    QVERIFY(WidgetTest::setModified(dir + "notes.txt", 50));
    QVERIFY(WidgetTest::setModified(dir + "Home.db-journal", 50));
    QVERIFY(QDir().mkpath(dir + "folder.db"));

    USetting page(nullptr);
    QCOMPARE(itemTexts(books(&page)), QStringList({ "abc.db", "家庭", openBookName, "Old" }));
    QVERIFY(!books(&page)->currentItem());
    // The open book stands out, and says why.
    for (int i = 0; i < books(&page)->count(); ++i) {
        const QListWidgetItem* item = books(&page)->item(i);
        const bool open = item->text() == openBookName;
        QCOMPARE(item->font().bold(), open);
        QCOMPARE(item->toolTip(), open ? QString("正在使用的账本") : QString());
        // A mark beside the open book's name only, each name at the same place.
        const QImage mark = item->icon().pixmap(QSize(16, 16)).toImage();
        QCOMPARE(mark.size(), QSize(16, 16));
        QCOMPARE(mark.pixelColor(8, 8).alpha() > 0, open);
    }
}

void TestUSetting::create_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("file");
    QTest::newRow("plain") << "家庭账本"
                           << "家庭账本.db";
    QTest::newRow("typed with .db") << "abc.db"
                                    << "abc.db.db";
    QTest::newRow("spaces kept") << " 旅行 "
                                 << " 旅行 .db";
}

void TestUSetting::create()
{
    QFETCH(QString, typed);
    QFETCH(QString, file);
    // The open book differs from a new one, so that rows of the new book would show.
    QVERIFY(execAll({ "delete from tbl_account where id='02'", "update tbl_member set name='Mia' where id='01'" }));
    TestBook::resetRecordCaches();
    const QStringList openRecords = recordNames();
    QVERIFY(WidgetTest::setModified(dir + "Old.db", 900));

    USetting page(nullptr);
    page.show();
    NotifierRecorder signalsSeen;
    ModalAnswerer boxes;
    answerNameDialog(boxes, typed);
    // The list shows the new book while the box speaks of it.
    QStringList listedWithTheBox;
    boxes.expect(ModalAnswerer::box("新建成功", "新建成功！您可以通过窗口顶部\"[切换账本]\"按钮快速切换账本。"),
        [&](QWidget* box) {
            listedWithTheBox = itemTexts(books(&page));
            ModalAnswerer::press("确定")(box);
        });
    click(&page, "pbCreateBook");
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QCOMPARE(listedWithTheBox, QStringList({ typed, openBookName, "Old" }));

    const QString path = dir + file;
    QVERIFY(QFileInfo(path).isFile());
    // Owner-only: the book holds the scrambled passwords.
    QCOMPARE(QFileInfo(path).permissions(),
        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser | QFileDevice::WriteUser);
    QCOMPARE(valueIn(path, "select count(*) from tbl_account").toInt(), 2);
    QCOMPARE(valueIn(path, "select count(*) from tbl_borrower").toInt(), 1);
    QCOMPARE(valueIn(path, "select count(*) from tbl_category").toInt(), 12);
    QCOMPARE(valueIn(path, "select count(*) from tbl_sub_category").toInt(), 25);
    QCOMPARE(valueIn(path, "select count(*) from tbl_member where version='2007-07-07 07:07:07'").toInt(), 2);
    QCOMPARE(itemTexts(books(&page)), QStringList({ typed, openBookName, "Old" }));
    QVERIFY(!books(&page)->currentItem());

    // The open book stays open and untouched: its records, its signals, its connection.
    QCOMPARE(recordNames(), openRecords);
    QCOMPARE(signalsSeen.signalList, QStringList());
    QCOMPARE(QSqlDatabase::connectionNames(), QStringList { QString::fromLatin1(QSqlDatabase::defaultConnection) });
    QCOMPARE(QSqlDatabase::database().databaseName(), book->path());
    QCOMPARE(scalar("select count(*) from tbl_account").toInt(), 1);
    QCOMPARE(Constants::getInstance()->getBookName(), QString("Home.db"));
}

void TestUSetting::createRefused_data()
{
    QTest::addColumn<QString>("typed"); // null: the dialog is cancelled
    QTest::addColumn<QString>("text"); // of the "新建失败" box; empty: no box

    const QString badName = QStringLiteral("账本名称不能以“.”开头，也不能包含“/”、“\\”或控制字符，请换一个名称。");
    QTest::newRow("cancelled") << QString() << QString();
    QTest::newRow("empty") << "" << QString();
    QTest::newRow("existing book") << "Work"
                                   << "账本“Work”已经存在，请换一个名称。";
    QTest::newRow("the open book") << "Home"
                                   << "账本“Home”已经存在，请换一个名称。";
    QTest::newRow("a folder") << "../escape" << badName;
    QTest::newRow("backslash") << "a\\b" << badName;
    QTest::newRow("dot") << "." << badName;
    QTest::newRow("dot dot") << ".." << badName;
    QTest::newRow("hidden") << ".hidden" << badName;
    QTest::newRow("control character") << "tab\there" << badName;
    QTest::newRow("a name too long for a file")
        << QString(300, QLatin1Char('x')) << "账本名称太长，请换一个短一些的名称。";
    // Two books that look alike in every list, and are one file on a disk that ignores case.
    QTest::newRow("a name differing only in case") << "wORK"
                                                   << "已经有一个名称只有大小写不同的账本“Work”，请换一个名称。";
}

void TestUSetting::createRefused()
{
    QFETCH(QString, typed);
    QFETCH(QString, text);
    QVERIFY(makeMarkedBook(dir + "Work.db", "Work", 100));
    const QString home = markOf(book->path());
    const QStringList before = filesIn(dir);
    const QStringList outside = filesIn(env->appDir());

    USetting page(nullptr);
    page.show();
    ModalAnswerer boxes;
    answerNameDialog(boxes, typed);
    if (!text.isEmpty())
        boxes.expect("新建失败", text, "确定");
    click(&page, "pbCreateBook");
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));

    QCOMPARE(filesIn(dir), before);
    QCOMPARE(filesIn(env->appDir()), outside);
    QCOMPARE(markOf(dir + "Work.db"), QString("Work"));
    QCOMPARE(markOf(book->path()), home);
    QCOMPARE(QSqlDatabase::connectionNames(), QStringList { QString::fromLatin1(QSqlDatabase::defaultConnection) });
}

void TestUSetting::rename_data()
{
    QTest::addColumn<QString>("chosen"); // empty: no book chosen
    QTest::addColumn<QString>("typed"); // null: the name dialog is not expected or cancelled
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("files");

    const QStringList unchanged = { "Home.db", "Old.db", "Work.db" };
    const QString failed = QStringLiteral("修改失败");
    const QString exists = QStringLiteral("账本“%1”已经存在，请换一个名称。");
    QTest::newRow("no book chosen") << "" << QString() << failed << "请先在账本列表中选择一个账本。" << unchanged;
    QTest::newRow("the open book") << "Home" << QString() << failed << "账本正在被使用，您不能修改正在使用的账本"
                                   << unchanged;
    QTest::newRow("a new name") << "Work"
                                << "Job"
                                << "修改成功"
                                << "您已经成功修改账本名称！" << QStringList({ "Home.db", "Job.db", "Old.db" });
    QTest::newRow("cancelled") << "Work" << QString() << ""
                               << "" << unchanged;
    // The dialog starts with the name: kept as it is, there is nothing to do.
    QTest::newRow("its own name") << "Work"
                                  << "Work"
                                  << ""
                                  << "" << unchanged;
    QTest::newRow("another book's name") << "Work"
                                         << "Old" << failed << exists.arg("Old") << unchanged;
    QTest::newRow("the open book's name") << "Work"
                                          << "Home" << failed << exists.arg("Home") << unchanged;
    QTest::newRow("another book's name in other letter case")
        << "Work"
        << "OLD" << failed << "已经有一个名称只有大小写不同的账本“Old”，请换一个名称。" << unchanged;
    QTest::newRow("out of the folder") << "Work"
                                       << "../Work" << failed
                                       << "账本名称不能以“.”开头，也不能包含“/”、“\\”或控制字符，请换一个名称。"
                                       << unchanged;
}

void TestUSetting::rename()
{
    QFETCH(QString, chosen);
    QFETCH(QString, typed);
    QFETCH(QString, title);
    QFETCH(QString, text);
    QFETCH(QStringList, files);
    QVERIFY(makeMarkedBook(dir + "Work.db", "Work", 100));
    QVERIFY(makeMarkedBook(dir + "Old.db", "Old", 900));
    const QStringList outside = filesIn(env->appDir());

    USetting page(nullptr);
    page.show();
    const QStringList itemsBefore = itemTexts(books(&page));
    if (!chosen.isEmpty())
        choose(page, chosen);
    ModalAnswerer boxes;
    const bool asked = !chosen.isEmpty() && chosen != openBookName;
    if (asked)
        answerNameDialog(boxes, typed, chosen);
    if (!title.isEmpty())
        boxes.expect(title, text, "确定");
    click(&page, "pbRenameBook");
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));

    QCOMPARE(bookFiles(dir), files);
    QCOMPARE(filesIn(env->appDir()), outside);
    // Whatever the outcome, every book keeps its own content under one name or the other.
    for (const QString& file : files)
        QCOMPARE(markOf(dir + file),
            file == "Job.db"        ? QString("Work")
                : file == "Home.db" ? QString()
                                    : file.chopped(3));
    if (files.contains("Job.db"))
        QCOMPARE(itemTexts(books(&page)), QStringList({ "Job", openBookName, "Old" }));
    else
        QCOMPARE(itemTexts(books(&page)), itemsBefore);
}

void TestUSetting::remove_data()
{
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("answer"); // of the question; empty: no question
    QTest::addColumn<QString>("earlier"); // a deleted book already in the backup folder
    QTest::addColumn<bool>("backupFolder");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("moved");

    const QString failed = QStringLiteral("删除失败");
    QTest::newRow("no book chosen") << ""
                                    << ""
                                    << "" << true << failed << "请先在账本列表中选择一个账本。" << false;
    QTest::newRow("the open book") << "Home"
                                   << ""
                                   << "" << true << failed << "账本正在被使用，您不能删除正在使用的账本" << false;
    QTest::newRow("answered no") << "Work"
                                 << "否"
                                 << "" << true << ""
                                 << "" << false;
    QTest::newRow("question closed") << "Work"
                                     << "strip"
                                     << "" << true << ""
                                     << "" << false;
    QTest::newRow("deleted") << "Work"
                             << "是"
                             << "" << true << "删除成功"
                             << "您已经成功删除账本！" << true;
    QTest::newRow("a book of that name was deleted before")
        << "Work"
        << "是"
        << "Work.db.deleted" << true << failed << QString() << false;
    QTest::newRow("no backup folder") << "Work"
                                      << "是"
                                      << "" << false << failed << "删除账本失败：文件夹“{backup}”不存在。账本保持原样。"
                                      << false;
}

void TestUSetting::remove()
{
    QFETCH(QString, chosen);
    QFETCH(QString, answer);
    QFETCH(QString, earlier);
    QFETCH(bool, backupFolder);
    QFETCH(QString, title);
    QFETCH(QString, text);
    QFETCH(bool, moved);
    const QString backupDir = Constants::getInstance()->getBackupDir();
    QVERIFY(makeMarkedBook(dir + "Work.db", "Work", 100));
    if (!earlier.isEmpty())
        QVERIFY(makeMarkedBook(backupDir + earlier, "earlier", 1000));
    if (!backupFolder)
        QVERIFY(QDir(backupDir).removeRecursively());

    USetting page(nullptr);
    page.show();
    if (!chosen.isEmpty())
        choose(page, chosen);
    ModalAnswerer boxes;
    if (!answer.isEmpty()) {
        boxes.expect(ModalAnswerer::box("确定删除?",
                         "您确定需要删除账本 Work ? 账本删除后，属于此账本的所有数据将丢失，并且不能恢复！"),
            ModalAnswerer::named(answer), "the question");
    }
    if (!title.isEmpty())
        boxes.expect(
            title, QString(text).replace("{backup}", QDir::toNativeSeparators(QDir::cleanPath(backupDir))), "确定");
    click(&page, "pbDeleteBook");
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));

    QCOMPARE(QFile::exists(dir + "Work.db"), !moved);
    QCOMPARE(markOf(moved ? backupDir + "Work.db.deleted" : dir + "Work.db"), QString("Work"));
    if (!earlier.isEmpty())
        QCOMPARE(markOf(backupDir + earlier), QString("earlier"));
    QVERIFY(QFile::exists(book->path()));
    QCOMPARE(itemTexts(books(&page)), moved ? QStringList { openBookName } : QStringList({ "Work", openBookName }));
}

void TestUSetting::titleBarFollows()
{
    QWidget host;
    auto* bar = new UTitleBar(&host);
    auto* switcher = bar->findChild<QComboBox*>("cbBookList");
    USetting page(nullptr);
    page.show();

    ModalAnswerer boxes;
    answerNameDialog(boxes, "Work");
    boxes.expect(ModalAnswerer::titled("新建成功"), ModalAnswerer::press("确定"));
    click(&page, "pbCreateBook");
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QTRY_COMPARE(WidgetTest::itemTexts(switcher), QStringList({ "[切换账本]", "Work" }));

    choose(page, "Work");
    answerNameDialog(boxes, "Job", "Work");
    boxes.expect(ModalAnswerer::titled("修改成功"), ModalAnswerer::press("确定"));
    click(&page, "pbRenameBook");
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QTRY_COMPARE(WidgetTest::itemTexts(switcher), QStringList({ "[切换账本]", "Job" }));

    choose(page, "Job");
    boxes.expect(ModalAnswerer::titled("确定删除?"), ModalAnswerer::press("是"));
    boxes.expect(ModalAnswerer::titled("删除成功"), ModalAnswerer::press("确定"));
    click(&page, "pbDeleteBook");
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QTRY_COMPARE(WidgetTest::itemTexts(switcher), QStringList({ "[切换账本]" }));
}

void TestUSetting::heldBook_data()
{
    QTest::addColumn<QString>("operation");
    QTest::newRow("rename") << "rename";
    QTest::newRow("delete") << "delete";
}

void TestUSetting::heldBook()
{
    QFETCH(QString, operation);
    QVERIFY(makeMarkedBook(dir + "Work.db", "Work", 100));
    // Another copy of the program has the book open.
    BookHolder other(QStringLiteral(QUORVANE_BOOK_DRIVER), dir + "Work.db");
    QVERIFY(other.isHolding());
    const QStringList before = filesIn(dir);

    USetting page(nullptr);
    page.show();
    choose(page, "Work");
    ModalAnswerer boxes;
    const QString held = QStringLiteral("账本“Work”正在被另一个运行中的Quorvane记账使用。请先在那里关闭它，再试一次。");
    if (operation == "rename") {
        answerNameDialog(boxes, "Job", "Work");
        boxes.expect("修改失败", "修改账本名称失败：" + held + "账本保持原样。", "确定");
        click(&page, "pbRenameBook");
    } else {
        boxes.expect(ModalAnswerer::titled("确定删除?"), ModalAnswerer::press("是"));
        boxes.expect("删除失败", "删除账本失败：" + held + "账本保持原样。", "确定");
        click(&page, "pbDeleteBook");
    }
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QCOMPARE(filesIn(dir), before);
    QCOMPARE(markOf(dir + "Work.db"), QString("Work"));
    QCOMPARE(filesIn(Constants::getInstance()->getBackupDir()), QStringList());
}

void TestUSetting::createWhereNothingCanBeWritten_data()
{
    QTest::addColumn<QString>("folder");
    QTest::newRow("a folder that cannot be written") << "read-only";
    QTest::newRow("a full disk") << "full";
}

void TestUSetting::createWhereNothingCanBeWritten()
{
    QFETCH(QString, folder);
    const bool full = folder == "full";
    const QString small = env->root() + "/small";
    QVERIFY(QDir().mkpath(small));
    std::unique_ptr<FullDisk> disk;
    if (full) {
        // The program's folder on a small disk of its own.
        disk = std::make_unique<FullDisk>(small);
        Constants::Roots roots;
        roots.appDir = small;
        Constants::setInstance(new Constants(roots));
        QVERIFY(Constants::getInstance()->setBookName("Home.db"));
        QVERIFY(disk->fill());
    } else {
        const QFileDevice::Permissions enter = QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::ReadGroup
            | QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::ExeOther;
        const QFileDevice::Permissions write
            = QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther;
        for (const QString& folder : { env->root(), env->appDir() })
            QVERIFY(QFile::setPermissions(folder, enter | write));
        QVERIFY(QFile::setPermissions(dir, enter));
    }
    const QString books = Constants::getInstance()->getDbDir();
    const QStringList before = filesIn(books);
    const QString shown = QDir::toNativeSeparators(QDir::cleanPath(books));

    {
        std::unique_ptr<AsOrdinaryUser> user;
        if (!full)
            user = std::make_unique<AsOrdinaryUser>();
        USetting page(nullptr);
        page.show();
        ModalAnswerer boxes;
        answerNameDialog(boxes, "New");
        if (!full)
            boxes.expect("新建失败", QString("文件夹“%1”不允许写入。").arg(shown), "确定");
        else if (disk->isMounted())
            boxes.expect(
                "新建失败", QString("磁盘空间不足：文件夹“%1”所在的磁盘已经写满，请先腾出空间。").arg(shown), "确定");
        else
            boxes.expect(ModalAnswerer::titled("新建失败"), ModalAnswerer::press("确定"));
        click(&page, "pbCreateBook");
        QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    }
    if (full)
        disk->release();
    QCOMPARE(filesIn(books), before);
    // The open book is untouched.
    QCOMPARE(scalar("select count(*) from tbl_account").toInt(), 2);
    if (!full)
        QVERIFY(QFile::setPermissions(dir, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
}

QTEST_MAIN(TestUSetting)
#include "tst_usetting.moc"
