#include <QPixmap>
#include <QTest>
#include <QTreeWidget>

#include "widgets/witemdelegate.h"

class TestWItemDelegate : public QObject {
    Q_OBJECT

private slots:
    void everyRowIs25High();
};

void TestWItemDelegate::everyRowIs25High()
{
    QTreeWidget view;
    view.setItemDelegate(new WItemDelegate(&view));
    QPixmap big(64, 64);
    big.fill(Qt::red);
    auto* plain = new QTreeWidgetItem(&view, { QStringLiteral("午餐") });
    auto* longText = new QTreeWidgetItem(&view, { QString(300, QChar(0x8D26)) });
    auto* lines = new QTreeWidgetItem(&view, { QStringLiteral("一\n二\n三") });
    auto* icon = new QTreeWidgetItem(&view, { QStringLiteral("图标") });
    icon->setIcon(0, QIcon(big));
    view.setIconSize(QSize(64, 64));
    auto* child = new QTreeWidgetItem(plain, { QStringLiteral("子项") });
    view.expandAll();
    view.resize(400, 300);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));

    for (QTreeWidgetItem* item : { plain, longText, lines, icon, child })
        QCOMPARE(view.visualItemRect(item).height(), 25);
}

QTEST_MAIN(TestWItemDelegate)
#include "tst_witemdelegate.moc"
