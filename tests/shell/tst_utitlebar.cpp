#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMainWindow>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include "data/constants.h"
#include "data/filesetting.h"
#include "data/settingkeys.h"
#include "modalanswerer.h"
#include "shell/uskin.h"
#include "shell/utitlebar.h"
#include "testenv.h"
#include "widgets/appcontrol.h"
#include "widgettest.h"

namespace {
// The window around the bar as the main window's forms build it: window, central widget,
// header, bar. It counts the close requests that reach it.
class HostWindow : public QMainWindow {
public:
    HostWindow()
    {
        auto* central = new QWidget(this);
        setCentralWidget(central);
        auto* header = new QWidget(central);
        bar = new UTitleBar(header);
        resize(600, 300);
    }
    UTitleBar* bar = nullptr;
    int closeRequests = 0;

protected:
    void closeEvent(QCloseEvent* event) override
    {
        ++closeRequests;
        event->ignore();
    }
};

}

class TestUTitleBar : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void title();
    void bookList_data();
    void bookList();
    void followsTheBookFolder();
    void switchRestartsOnTheChosenBook();
    void failedRestartKeepsRunning();
    void windowButtons();
    void drag_data();
    void drag();
    void skinPaletteOpensBelowItsButton();

private:
    QComboBox* switcher(HostWindow& host) { return host.bar->findChild<QComboBox*>(QStringLiteral("cbBookList")); }
    QLabel* currentBook(HostWindow& host) { return host.bar->findChild<QLabel*>(QStringLiteral("lblCurrentBook")); }

    TestEnv* env = nullptr;
    QString dir;
};

void TestUTitleBar::init()
{
    env = new TestEnv;
    dir = Constants::getInstance()->getDbDir();
    Constants::getInstance()->setBookName(QStringLiteral("Home.db"));
}

void TestUTitleBar::cleanup()
{
    AppControl::reset();
    delete env;
    env = nullptr;
}

void TestUTitleBar::title()
{
    HostWindow host;
    QCOMPARE(
        host.bar->findChild<QLabel*>(QStringLiteral("lblWindowTitle"))->text(), QStringLiteral("Quorvane记账 1.6"));
}

void TestUTitleBar::bookList_data()
{
    QTest::addColumn<QStringList>("files"); // oldest first
    QTest::addColumn<bool>("shown");
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<QString>("secondItemData");

    const QString placeholder = QStringLiteral("[切换账本]");
    QTest::newRow("no book") << QStringList() << false << QStringList { placeholder } << QString();
    QTest::newRow("only the open book") << QStringList { "Home.db" } << false << QStringList { placeholder }
                                        << QString();
    QTest::newRow("the open book and one other")
        << QStringList { "Home.db", "Work.db" } << true << QStringList { placeholder, "Work" } << "Work.db";
    QTest::newRow("newest first") << QStringList { "Old.db", "Home.db", "New.db" } << true
                                  << QStringList { placeholder, "New", "Old" } << "New.db";
    QTest::newRow("a name differing in case is another book")
        << QStringList { "Home.db", "home.db" } << true << QStringList { placeholder, "home" } << "home.db";
    QTest::newRow("only plain .db files count, in any letter case")
        << QStringList { "Home.db", "Work.db", "notes.txt", "Home.db-journal", "家庭.DB" } << true
        << QStringList { placeholder, "家庭", "Work" } << "家庭.DB";
}

void TestUTitleBar::bookList()
{
    QFETCH(QStringList, files);
    QFETCH(bool, shown);
    QFETCH(QStringList, items);
    QFETCH(QString, secondItemData);
    for (int i = 0; i < files.size(); ++i)
        QVERIFY(WidgetTest::setModified(dir + files.at(i), 1000 - 100 * i));
    QDir().mkpath(dir + "folder.db");

    HostWindow host;
    QCOMPARE(WidgetTest::itemTexts(switcher(host)), items);
    QCOMPARE(switcher(host)->currentIndex(), 0);
    QCOMPARE(!switcher(host)->isHidden(), shown);
    QCOMPARE(!currentBook(host)->isHidden(), shown);
    if (shown)
        QCOMPARE(currentBook(host)->text(), QStringLiteral("Home"));
    if (items.size() > 1)
        QCOMPARE(switcher(host)->itemData(1).toString(), secondItemData);
}

void TestUTitleBar::followsTheBookFolder()
{
    QVERIFY(WidgetTest::setModified(dir + "Home.db", 100));
    HostWindow host;
    QVERIFY(switcher(host)->isHidden());

    QVERIFY(QFile::copy(dir + "Home.db", dir + "Work.db"));
    QTRY_VERIFY(!switcher(host)->isHidden());
    QCOMPARE(WidgetTest::itemTexts(switcher(host)), QStringList({ "[切换账本]", "Work" }));
    QVERIFY(!currentBook(host)->isHidden());

    QVERIFY(QFile::remove(dir + "Work.db"));
    QTRY_VERIFY(switcher(host)->isHidden());
    QVERIFY(currentBook(host)->isHidden());
}

void TestUTitleBar::switchRestartsOnTheChosenBook()
{
    QVERIFY(WidgetTest::setModified(dir + "Home.db", 200));
    QVERIFY(WidgetTest::setModified(dir + "Work.db", 100));
    ModalAnswerer boxes;
    HostWindow host;
    host.show();
    // A setting changed just before the switch must not be lost with the old process.
    FileSetting::getInstance()->setValue(SettingKeys::SkinColor, "#7E0000");
    switcher(host)->setCurrentIndex(1);

    // The next run is started once this one has left its event loop (tst_appcontrol).
    QVERIFY(AppControl::isRestartPending());
    QCOMPARE(AppControl::pendingArguments(), QStringList({ "book", "Work.db" }));
    // The bytes in the file, not a QSettings: those share this process's unwritten changes.
    QFile ini(env->iniPath());
    QVERIFY(ini.open(QIODevice::ReadOnly));
    const QByteArray iniOnDisk = ini.readAll();
    QVERIFY2(iniOnDisk.contains("SkinColor=#7E0000"), iniOnDisk.constData());
    // A switch is no close: neither the tray nor the close-time sync and backup are involved.
    QCOMPARE(host.closeRequests, 0);
}

void TestUTitleBar::failedRestartKeepsRunning()
{
    QVERIFY(WidgetTest::setModified(dir + "Home.db", 200));
    QVERIFY(WidgetTest::setModified(dir + "Work.db", 100));
    // A program file that cannot be started: the switch is refused while this run still has its book.
    AppControl::setProgram(env->root() + "/no-such-program");

    ModalAnswerer boxes;
    boxes.expect(QStringLiteral("错误"), QStringLiteral("无法重新启动程序，账本没有切换。"), QStringLiteral("确定"));
    HostWindow host;
    host.show();
    switcher(host)->setCurrentIndex(1);
    QVERIFY2(boxes.answeredAll(), qPrintable(boxes.report()));
    QCOMPARE(switcher(host)->currentIndex(), 0);
    QVERIFY(host.isVisible());
}

void TestUTitleBar::windowButtons()
{
    HostWindow host;
    host.show();
    QVERIFY(QTest::qWaitForWindowExposed(&host));
    auto button = [&](const char* name) { return host.bar->findChild<QPushButton*>(QString::fromLatin1(name)); };

    button("pbClose")->click();
    QCOMPARE(host.closeRequests, 1);

    button("maxButton")->click();
    QTRY_VERIFY(host.isMaximized());
    button("maxButton")->click();
    QTRY_VERIFY(!host.isMaximized());

    // A double click with any button toggles too.
    WidgetTest::sendMouse(host.bar, QEvent::MouseButtonDblClick, QPoint(5, 5), Qt::RightButton, Qt::RightButton);
    QTRY_VERIFY(host.isMaximized());
    WidgetTest::sendMouse(host.bar, QEvent::MouseButtonDblClick, QPoint(5, 5), Qt::LeftButton, Qt::LeftButton);
    QTRY_VERIFY(!host.isMaximized());

    button("minButton")->click();
    QTRY_VERIFY(host.isMinimized());
}

void TestUTitleBar::drag_data()
{
    QTest::addColumn<int>("held");
    QTest::addColumn<QPoint>("shift");
    QTest::newRow("left button") << int(Qt::LeftButton) << QPoint(50, 30);
    QTest::newRow("left and right buttons") << int(Qt::LeftButton | Qt::RightButton) << QPoint(0, 0);
    QTest::newRow("right button") << int(Qt::RightButton) << QPoint(0, 0);
    QTest::newRow("no button") << int(Qt::NoButton) << QPoint(0, 0);
}

void TestUTitleBar::drag()
{
    QFETCH(int, held);
    QFETCH(QPoint, shift);
    HostWindow host;
    host.move(100, 100);
    host.show();
    QVERIFY(QTest::qWaitForWindowExposed(&host));
    const QPoint start = host.pos();

    // The bar moves with the window, so each step is sent at the same place on the bar: the
    // window must follow the pointer's travel since the last step.
    const QPoint local(5, 5);
    WidgetTest::sendMouse(host.bar, QEvent::MouseButtonPress, local, Qt::LeftButton, Qt::MouseButtons(held));
    for (const QPoint& step : { QPoint(30, 10), QPoint(20, 20) }) {
        const QPoint global = host.bar->mapToGlobal(local) + step;
        QMouseEvent move(QEvent::MouseMove, QPointF(local + step), QPointF(global), Qt::NoButton,
            Qt::MouseButtons(held), Qt::NoModifier);
        QApplication::sendEvent(host.bar, &move);
        QTest::qWait(1);
    }
    QTRY_COMPARE(host.pos(), start + shift);
}

void TestUTitleBar::skinPaletteOpensBelowItsButton()
{
    HostWindow host;
    host.show();
    QVERIFY(QTest::qWaitForWindowExposed(&host));
    auto* skinButton = host.bar->findChild<QPushButton*>(QStringLiteral("pbSkin"));
    skinButton->click();

    QPointer<USkin> palette;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* skin = qobject_cast<USkin*>(widget); skin && skin->isVisible())
            palette = skin;
    }
    QVERIFY(palette);
    const QPoint buttonCorner = skinButton->mapToGlobal(QPoint(0, 0));
    // Its top edge meets the button's bottom edge; its right edge lies 110 pixels right of the
    // button's left edge.
    QTRY_COMPARE(palette->geometry().top(), buttonCorner.y() + skinButton->height());
    QCOMPARE(palette->geometry().left() + palette->width(), buttonCorner.x() + 110);

    palette->close();
    QTRY_VERIFY(!palette);
}

QTEST_MAIN(TestUTitleBar)
#include "tst_utitlebar.moc"
