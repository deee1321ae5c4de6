#include <QAbstractItemView>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QUrl>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTest>

#include "bills/dbill.h"
#include "bills/wbilllist.h"
#include "data/dbhelper.h"
#include "data/filesetting.h"
#include "data/maccount.h"
#include "data/settingkeys.h"
#include "modalanswerer.h"
#include "shell/ubook.h"
#include "shell/ucontent.h"
#include "shell/umenubar.h"
#include "shell/utoolbar.h"
#include "testenv.h"
#include "widgets/dmessagebox.h"
#include "widgets/wbasewidget.h"

namespace {

// Counts the bind() calls of every content page of a book page.
class BindCounter : public QObject
{
public:
    explicit BindCounter(QWidget* root)
    {
        for (WBaseWidget* page : root->findChildren<WBaseWidget*>())
            page->installEventFilter(this);
    }
    int count(const QString& objectName) const { return counts.value(objectName); }
    void reset() { counts.clear(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        // WBaseWidget binds on every show event.
        if (event->type() == QEvent::Show)
            counts[watched->objectName()]++;
        return false;
    }

private:
    QHash<QString, int> counts;
};

QString currentContainer(QWidget* host)
{
    return host->findChild<QStackedWidget*>("stackedWidget")->currentWidget()->objectName();
}

} // namespace

class TestBookPage : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void billListIsShownFirst();
    void menuButtonsSwitchByName_data();
    void menuButtonsSwitchByName();
    void choosingTheShownPageDoesNotRebind();
    void memberButtonsFollowTheSetting_data();
    void memberButtonsFollowTheSetting();
    void unknownKeysChangeNothing();
    void newBillRefreshesThePageShown_data();
    void newBillRefreshesThePageShown();
    void toolBarSwitchesTopLevelPages();
    void webButtonsOpenTheBrowser();
    void pageLookStaysOnThePages();

private:
    TestEnv* env = nullptr;
    TestBook* book = nullptr;
};

void TestBookPage::init()
{
    env = new TestEnv;
    book = new TestBook(env->dataDir() + "Quorvane.db");
}

void TestBookPage::cleanup()
{
    delete book;
    delete env;
}

void TestBookPage::billListIsShownFirst()
{
    UBook page;
    QCOMPARE(currentContainer(&page), QString("pgBillList"));
    QVERIFY(qobject_cast<WBillList*>(page.currentWidget()));
    QCOMPARE(page.currentWidget()->objectName(), QString("wgtBillList"));
    // No menu button is checked at start, although the bill list shows.
    for (QPushButton* button : page.findChild<UMenuBar*>()->findChildren<QPushButton*>())
        QVERIFY2(!button->isChecked(), qPrintable(button->objectName()));
}

void TestBookPage::menuButtonsSwitchByName_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("container");
    QTest::addColumn<QString>("page");
    QTest::newRow("accounts") << "tbAccountList" << "pgAccountList" << "wgtAccount";
    QTest::newRow("categories") << "tbCategoryList" << "pgCategoryList" << "wgtCategoryList";
    QTest::newRow("borrowers") << "tbBorrowerList" << "pgBorrowerList" << "wgtBorrowerList";
    QTest::newRow("members") << "tbMemberList" << "pgMemberList" << "wgtMemberList";
    QTest::newRow("category analysis") << "pbCategoryAnalysis" << "pgCategoryAnalysis" << "wgtCategoryAnalysis";
    QTest::newRow("account analysis") << "pbAccountAnalysis" << "pgAccountAnalysis" << "wgtAccountAnalysis";
    QTest::newRow("borrower analysis") << "pbBorrowerAnalysis" << "pgBorrowerAnalysis" << "wgtBorrowerAnalysis";
    QTest::newRow("member analysis") << "pbMemberAnalysis" << "pgMemberAnalysis" << "wgtMemberAnalysis";
    QTest::newRow("statistics") << "pbBillStat" << "pgBillStat" << "wgtBillStat";
    QTest::newRow("bill list") << "tbBillList" << "pgBillList" << "wgtBillList";
}

void TestBookPage::menuButtonsSwitchByName()
{
    QFETCH(QString, button);
    QFETCH(QString, container);
    QFETCH(QString, page);
    UBook book;
    book.resize(900, 600);
    book.show();
    BindCounter binds(&book);
    if (button == "tbBillList")
        QTest::mouseClick(book.findChild<QPushButton*>("tbAccountList"), Qt::LeftButton);
    binds.reset();

    auto* clicked = book.findChild<QPushButton*>(button);
    QTest::mouseClick(clicked, Qt::LeftButton);
    QCOMPARE(currentContainer(&book), container);
    QCOMPARE(book.currentWidget()->objectName(), page);
    QCOMPARE(binds.count(page), 1);
    QVERIFY(clicked->isChecked());
}

void TestBookPage::choosingTheShownPageDoesNotRebind()
{
    UBook book;
    book.show();
    BindCounter binds(&book);
    QTest::mouseClick(book.findChild<QPushButton*>("tbAccountList"), Qt::LeftButton);
    QCOMPARE(binds.count("wgtAccount"), 1);
    QTest::mouseClick(book.findChild<QPushButton*>("tbAccountList"), Qt::LeftButton);
    QCOMPARE(binds.count("wgtAccount"), 1);
    QVERIFY(book.findChild<QPushButton*>("tbAccountList")->isChecked());

    // Hiding and showing the book page binds the page shown again.
    book.hide();
    book.show();
    QCOMPARE(binds.count("wgtAccount"), 2);
}

void TestBookPage::memberButtonsFollowTheSetting_data()
{
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<bool>("shown");
    QTest::newRow("absent") << QVariant() << true;
    QTest::newRow("on") << QVariant(true) << true;
    QTest::newRow("off") << QVariant(false) << false;
}

void TestBookPage::memberButtonsFollowTheSetting()
{
    QFETCH(QVariant, stored);
    QFETCH(bool, shown);
    if (stored.isValid())
        FileSetting::getInstance()->setValue(SettingKeys::EnableBillMember, stored);
    UBook book;
    book.show();
    QCOMPARE(book.findChild<QPushButton*>("tbMemberList")->isVisible(), shown);
    QCOMPARE(book.findChild<QPushButton*>("pbMemberAnalysis")->isVisible(), shown);
    QVERIFY(book.findChild<QPushButton*>("tbAccountList")->isVisible());
    // The pages exist either way.
    QVERIFY(book.findChild<QWidget*>("wgtMemberList"));
    QVERIFY(book.findChild<QWidget*>("wgtMemberAnalysis"));
}

void TestBookPage::unknownKeysChangeNothing()
{
    UBook book;
    book.switchPage("Nope");
    QCOMPARE(currentContainer(&book), QString("pgBillList"));
    book.switchPage("");
    QCOMPARE(currentContainer(&book), QString("pgBillList"));

    UContent content;
    QCOMPARE(content.currentWidget()->objectName(), QString("pgBook"));
    content.switchPage("BillList"); // a page of the book page, not of this stack
    QCOMPARE(content.currentWidget()->objectName(), QString("pgBook"));
    content.switchPage("Nope");
    QCOMPARE(content.currentWidget()->objectName(), QString("pgBook"));
}

void TestBookPage::newBillRefreshesThePageShown_data()
{
    QTest::addColumn<QString>("how"); // how the bill dialog ends
    QTest::addColumn<int>("bills");
    QTest::addColumn<bool>("refreshed");
    QTest::newRow("saved") << "save" << 1 << true;
    QTest::newRow("cancelled") << "cancel" << 0 << false;
    // Bills saved with "save and continue" count too, whatever the dialog's final result.
    QTest::newRow("continued, then cancelled") << "continue" << 1 << true;
}

void TestBookPage::newBillRefreshesThePageShown()
{
    QFETCH(QString, how);
    QFETCH(int, bills);
    QFETCH(bool, refreshed);
    QVERIFY(DBHelper::getInstance()->initDefaultData(QString()));
    UBook book;
    book.show();
    book.switchPage("AccountList");
    auto* accounts = book.findChild<QAbstractItemView*>("tvAccountList");
    const int rows = accounts->model()->rowCount();
    // An account that the page, which reloads only when shown or told to, does not know yet.
    QVERIFY(execAll({ "insert into tbl_account (id,name,kind,amount,sort) values ('new','新账户','cash',0,9)" }));
    MAccount::clearCache();
    QCOMPARE(accounts->model()->rowCount(), rows);

    ModalAnswerer boxes;
    boxes.expect(ModalAnswerer::ofClass("DBill"), [how](QWidget* dialog) {
        dialog->findChild<QDoubleSpinBox*>("dsbAmount")->setValue(12.5);
        if (how == "continue")
            QTest::mouseClick(dialog->findChild<QPushButton*>("pbContinue"), Qt::LeftButton);
        QTest::mouseClick(dialog->findChild<QPushButton*>(how == "save" ? "pbOk" : "pbCancel"), Qt::LeftButton);
    });
    QTest::mouseClick(book.findChild<QPushButton*>("tbNewBill"), Qt::LeftButton);
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QCOMPARE(scalar("select count(*) from tbl_bill").toInt(), bills);
    QCOMPARE(accounts->model()->rowCount(), refreshed ? rows + 1 : rows);
    QCOMPARE(book.currentWidget()->objectName(), QString("wgtAccount"));
}

void TestBookPage::toolBarSwitchesTopLevelPages()
{
    UContent content;
    UToolBar bar;
    bar.setContent(&content);
    auto* sync = bar.findChild<QAbstractButton*>("tbSync");
    auto* book = bar.findChild<QAbstractButton*>("pbBook");
    QVERIFY(book->isChecked());
    QTest::mouseClick(sync, Qt::LeftButton);
    QCOMPARE(content.currentWidget()->objectName(), QString("pgSync"));
    QVERIFY(sync->isChecked() && !book->isChecked());
    QTest::mouseClick(bar.findChild<QAbstractButton*>("tbData"), Qt::LeftButton);
    QCOMPARE(content.currentWidget()->objectName(), QString("pgData"));
    QTest::mouseClick(bar.findChild<QAbstractButton*>("tbSetting"), Qt::LeftButton);
    QCOMPARE(content.currentWidget()->objectName(), QString("pgSetting"));
    QTest::mouseClick(book, Qt::LeftButton);
    QCOMPARE(content.currentWidget()->objectName(), QString("pgBook"));
    QVERIFY(book->isChecked() && !sync->isChecked());
}

class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls << url; }
};

void TestBookPage::webButtonsOpenTheBrowser()
{
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler("http", &catcher, "open");
    UContent content;
    UToolBar bar;
    bar.setContent(&content);
    QTest::mouseClick(bar.findChild<QAbstractButton*>("tbWebsite"), Qt::LeftButton);
    QTest::mouseClick(bar.findChild<QAbstractButton*>("tbWeibo"), Qt::LeftButton);
    QDesktopServices::unsetUrlHandler("http");
    QCOMPARE(catcher.urls, QList<QUrl>({ UToolBar::websiteUrl(), UToolBar::weiboUrl() }));
    // The link buttons leave the page and its button as they were.
    QCOMPARE(content.currentWidget()->objectName(), QString("pgBook"));
    QVERIFY(bar.findChild<QAbstractButton*>("pbBook")->isChecked());
}

void TestBookPage::pageLookStaysOnThePages()
{
    QVERIFY(DBHelper::getInstance()->initDefaultData(QString()));
    ModalAnswerer boxes; // none may come
    QFile sheet(":/rc/style/default.qss");
    QVERIFY(sheet.open(QIODevice::ReadOnly));
    qApp->setStyleSheet(QString::fromLatin1(sheet.readAll()));
    UContent content;
    content.show();
    auto* page = content.findChild<WBillList*>();
    QVERIFY(page->findChild<QLabel*>("lblPagePosition")->font().bold());

    // A dialog that a page opens is a dialog like any other: its texts as its form has them, and
    // its buttons with their text alone.
    DMessageBox box(page, "标题", "正文");
    box.setStandardButtons(QDialogButtonBox::Yes | QDialogButtonBox::No);
    box.show();
    const QFont text = box.findChild<QLabel*>("tlText")->font();
    QVERIFY(!text.bold());
    QCOMPARE(text.pointSize(), 15);
    for (QAbstractButton* button : box.findChild<QDialogButtonBox*>()->buttons())
        QVERIFY(button->icon().isNull());
    DBill bill(content.findChild<UMenuBar*>());
    bill.show();
    QVERIFY(!bill.findChild<QLabel*>("label")->font().bold());
    qApp->setStyleSheet(QString());
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
}

QTEST_MAIN(TestBookPage)
#include "tst_bookpage.moc"
