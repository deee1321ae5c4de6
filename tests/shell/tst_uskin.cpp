#include <QApplication>
#include <QFile>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <cmath>
#include <QSet>
#include <QTest>

#include "data/filesetting.h"
#include "data/settingkeys.h"
#include "modalanswerer.h"
#include "shell/uskin.h"
#include "testenv.h"
#include "widgets/dmessagebox.h"

namespace {
const QString baseSheet = QStringLiteral("QLabel{color:#123456}");

// The two rules of a skin colour and of the pictures, as they end what a choice appends; the
// rules that keep the texts readable come before them.
QString colourPair(const QString& colour)
{
    return QStringLiteral("\r\nMainWindow{border-image:none;background-color:") + colour
        + QStringLiteral("}\r\nQDialog[style=dialog]{border-image:none;background-color:") + colour
        + QStringLiteral("}");
}

const QString picturePair
    = QStringLiteral("\r\nMainWindow{border-image:url(:/rc/images/BgMainWindow.png) 101 2 26 2 ;}"
                     "\r\nQDialog[style=dialog]{border-image:url(:/rc/images/BgMessageBox.png) 60 2 40 2 ;}");

QString colourRules(const QString& colour)
{
    return USkin::colourRules(colour);
}

// WCAG's contrast ratio of two colours.
double contrast(const QColor& a, const QColor& b)
{
    const auto luminance = [](const QColor& c) {
        const auto linear = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
        return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
    };
    const double x = luminance(a) + 0.05;
    const double y = luminance(b) + 0.05;
    return x > y ? x / y : y / x;
}

QPushButton* swatchAt(USkin& skin, int row, int column)
{
    auto* grid = skin.findChild<QGridLayout*>(QStringLiteral("gridLayout"));
    QLayoutItem* item = grid ? grid->itemAtPosition(row, column) : nullptr;
    return item ? qobject_cast<QPushButton*>(item->widget()) : nullptr;
}
}

class TestUSkin : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void swatches();
    void choices_data();
    void choices();
    void storedColourAtStart_data();
    void storedColourAtStart();
    void appendedRulesEndWithTheColourPair();
    void textsStayReadableOnEverySwatch();

private:
    TestEnv* env = nullptr;
};

void TestUSkin::init()
{
    env = new TestEnv;
    qApp->setStyleSheet(baseSheet);
}

void TestUSkin::cleanup()
{
    qApp->setStyleSheet(QString());
    delete env;
    env = nullptr;
}

void TestUSkin::swatches()
{
    USkin skin;
    QCOMPARE(skin.windowType(), Qt::Popup);
    QSet<QString> names;
    int count = 0;
    for (int row = 0; row < 7; ++row) {
        for (int column = 0; column < 12; ++column) {
            QPushButton* swatch = swatchAt(skin, row, column);
            QVERIFY(swatch);
            QVERIFY(swatch->text().isEmpty());
            names.insert(swatch->objectName());
            ++count;
        }
    }
    QCOMPARE(count, 84);
    QCOMPARE(names.size(), 81);
    QCOMPARE(swatchAt(skin, 0, 0)->objectName(), QStringLiteral("pb7E0000"));
    QCOMPARE(swatchAt(skin, 6, 11)->objectName(), QStringLiteral("pbC6C6C6"));
    QCOMPARE(swatchAt(skin, 4, 9)->objectName(), swatchAt(skin, 4, 8)->objectName());
    // The swatch shows the colour it stands for.
    const QImage face = swatchAt(skin, 2, 5)->icon().pixmap(25, 25).toImage();
    QCOMPARE(face.pixelColor(12, 12), QColor(QStringLiteral("#0074AA")));
}

void TestUSkin::choices_data()
{
    QTest::addColumn<QList<QPoint>>("clicks"); // (column, row) of a swatch; (-1, -1) is the default button
    QTest::addColumn<QString>("appended");
    QTest::addColumn<QString>("stored");
    const QPoint defaultButton(-1, -1);

    QTest::newRow("a swatch") << QList<QPoint> { { 0, 0 } } << colourRules("#7E0000") << "#7E0000";
    QTest::newRow("the default button") << QList<QPoint> { defaultButton } << USkin::pictureRules() << "#FFFFFF";
    QTest::newRow("a swatch, then the default")
        << QList<QPoint> { { 11, 6 }, defaultButton } << colourRules("#C6C6C6") + USkin::pictureRules() << "#FFFFFF";
    QTest::newRow("the default, then a swatch")
        << QList<QPoint> { defaultButton, { 3, 1 } } << USkin::pictureRules() + colourRules("#4D7600") << "#4D7600";
    QTest::newRow("the same swatch twice")
        << QList<QPoint> { { 0, 0 }, { 0, 0 } } << colourRules("#7E0000") + colourRules("#7E0000") << "#7E0000";
    QTest::newRow("the second button of a colour shown twice")
        << QList<QPoint> { { 9, 4 } } << colourRules("#7B31A6") << "#7B31A6";
}

void TestUSkin::choices()
{
    QFETCH(QList<QPoint>, clicks);
    QFETCH(QString, appended);
    QFETCH(QString, stored);

    ModalAnswerer boxes;
    USkin skin;
    skin.show();
    QVERIFY(QTest::qWaitForWindowExposed(&skin));
    for (const QPoint& click : clicks) {
        QPushButton* target = click.x() < 0 ? skin.findChild<QPushButton*>(QStringLiteral("pbUseDefaultSkin"))
                                            : swatchAt(skin, click.y(), click.x());
        QVERIFY(target);
        QTest::mouseClick(target, Qt::LeftButton);
    }
    QCOMPARE(qApp->styleSheet(), baseSheet + appended);
    QCOMPARE(FileSetting::getInstance()->value(SettingKeys::SkinColor).toString(), stored);
    // The palette stays open, so the user can try one colour after another.
    QVERIFY(skin.isVisible());
}

void TestUSkin::storedColourAtStart_data()
{
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<QString>("appended");
    QTest::newRow("a colour") << QVariant("#7E0000") << colourRules("#7E0000");
    QTest::newRow("lower-case white is a colour") << QVariant("#ffffff") << colourRules("#ffffff");
    QTest::newRow("the default") << QVariant("#FFFFFF") << QString();
    QTest::newRow("nothing stored") << QVariant() << QString();
    QTest::newRow("empty") << QVariant("") << QString();
    QTest::newRow("a colour name") << QVariant("red") << QString();
    QTest::newRow("five digits") << QVariant("#12345") << QString();
    QTest::newRow("seven digits") << QVariant("#1234567") << QString();
    QTest::newRow("not hex") << QVariant("#GG0000") << QString();
    QTest::newRow("a trailing line break") << QVariant("#7E0000\n") << QString();
    QTest::newRow("rules smuggled in") << QVariant("#000000}QWidget{background:url(/etc/passwd)") << QString();
}

void TestUSkin::storedColourAtStart()
{
    QFETCH(QVariant, stored);
    QFETCH(QString, appended);
    if (stored.isValid())
        FileSetting::getInstance()->setValue(SettingKeys::SkinColor, stored);
    QCOMPARE(USkin::withStoredSkin(baseSheet), baseSheet + appended);
}

void TestUSkin::appendedRulesEndWithTheColourPair()
{
    QVERIFY(USkin::colourRules("#7E0000").endsWith(colourPair("#7E0000")));
    QVERIFY(USkin::colourRules("#7E0000").startsWith("\r\n"));
    QVERIFY(USkin::pictureRules().endsWith(picturePair));
}

void TestUSkin::textsStayReadableOnEverySwatch()
{
    QFile file(":/rc/style/default.qss");
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString sheet = QString::fromLatin1(file.readAll());

    // What lies on the skin colour, named as in the main window and the dialogs.
    QWidget window;
    auto* titleBar = new QWidget(&window);
    titleBar->setObjectName("wgtTitleBar");
    auto* title = new QLabel("Quorvane记账 1.6", titleBar);
    title->setObjectName("lblWindowTitle");
    auto* minimise = new QPushButton(titleBar);
    minimise->setObjectName("minButton");
    minimise->setIcon(QIcon(":/rc/images/BtnToolBoxMin.png")); // as the title bar's form has it
    auto* toolBar = new QWidget(&window);
    toolBar->setObjectName("wgtToolBar");
    auto* tool = new QToolButton(toolBar);
    auto* statusBar = new QWidget(&window);
    statusBar->setObjectName("wgtStatusBar");
    auto* month = new QLabel("本月", statusBar);
    month->setObjectName("lblMonthSummary");
    window.show();
    DMessageBox box(nullptr, "标题", "正文");
    box.show();
    auto* dialogTitle = box.findChild<QLabel*>("tlTitle");

    const auto glyph = [minimise] { return minimise->icon().pixmap(28, 20).toImage().pixelColor(14, 12); };
    for (const QString& hex : USkin::palette()) {
        const QColor skin("#" + hex);
        qApp->setStyleSheet(sheet + USkin::colourRules(skin.name()));
        const double least = 3.0; // large or bold text
        QVERIFY2(contrast(title->palette().color(QPalette::WindowText), skin) >= least, qPrintable(hex));
        QVERIFY2(contrast(tool->palette().color(QPalette::ButtonText), skin) >= least, qPrintable(hex));
        QVERIFY2(contrast(month->palette().color(QPalette::WindowText), skin) >= least, qPrintable(hex));
        QVERIFY2(contrast(dialogTitle->palette().color(QPalette::WindowText), skin) >= least, qPrintable(hex));
        QVERIFY2(contrast(glyph(), skin) >= least, qPrintable(hex));
    }
    // Back on the pictures, everything looks as the style sheet has it.
    qApp->setStyleSheet(sheet + USkin::colourRules("#FFF58F") + USkin::pictureRules());
    QCOMPARE(title->palette().color(QPalette::WindowText), QColor("#C7E9FF"));
    QCOMPARE(glyph(), QColor("#E3F2FD"));
}

QTEST_MAIN(TestUSkin)
#include "tst_uskin.moc"
