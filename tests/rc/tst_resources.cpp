// The images the forms and the style sheet name, and the style sheet's own references.
#include <QFile>
#include <QImage>
#include <QRegularExpression>
#include <QtTest>

namespace {

struct ImageEntry {
    const char* name;
    int width;
    int height;
};

// Every picture the program shows, at the size the forms and the style sheet lay it out.
const ImageEntry kImages[] = {
    { "BgDialogButton", 40, 26 },
    { "BgDialogButtonHovered", 40, 26 },
    { "BgMainContentMask", 16, 16 },
    { "BgMainWindow", 64, 160 },
    { "BgMenuBarSeparator", 3, 560 },
    { "BgMenuItem", 4, 2 },
    { "BgMessageBox", 120, 140 },
    { "BgSearchBox", 24, 24 },
    { "BgTitleBarCloud", 161, 76 },
    { "BgToolBoxButton", 28, 20 },
    { "BgToolBoxSeparator", 2, 16 },
    { "BgToolbarButton", 66, 66 },
    { "BtnDropDownArrow", 12, 8 },
    { "BtnNewBill", 100, 64 },
    { "BtnToolBoxClose", 28, 20 },
    { "BtnToolBoxMax", 28, 20 },
    { "BtnToolBoxMin", 28, 20 },
    { "BtnToolBoxSetting", 28, 20 },
    { "BtnTreeClosed", 16, 16 },
    { "BtnTreeOpen", 16, 16 },
    { "IcoAccount", 18, 18 },
    { "IcoAccountAnalysis", 18, 18 },
    { "IcoBillList", 18, 18 },
    { "IcoBillStat", 18, 18 },
    { "IcoBorrower", 18, 18 },
    { "IcoCalculator", 16, 16 },
    { "IcoCategory", 18, 18 },
    { "IcoCategoryAnalysis", 18, 18 },
    { "IcoDatabase", 38, 38 },
    { "IcoDelete", 16, 16 },
    { "IcoExport", 16, 16 },
    { "IcoFeedback", 38, 38 },
    { "IcoHome", 38, 38 },
    { "IcoKobel", 32, 32 },
    { "IcoMember", 18, 18 },
    { "IcoMemberAnalysis", 18, 18 },
    { "IcoModify", 16, 16 },
    { "IcoMonth", 16, 16 },
    { "IcoPrint", 16, 16 },
    { "IcoReset", 32, 32 },
    { "IcoSetting", 38, 38 },
    { "IcoSync", 38, 38 },
    { "IcoWebsite", 38, 38 },
    { "IcoWeibo", 38, 38 },
    { "IcoYear", 16, 16 },
    { "Icon", 128, 128 },
    { "IconQuestion", 32, 32 },
    { "Splash", 400, 250 },
};

QString styleSheet()
{
    QFile file(":/rc/style/default.qss");
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLatin1(file.readAll());
}

bool hasVisiblePixel(const QImage& image)
{
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < argb.height(); ++y) {
        const QRgb* line = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
        for (int x = 0; x < argb.width(); ++x) {
            if (qAlpha(line[x]) > 0)
                return true;
        }
    }
    return false;
}

} // namespace

class TestResources : public QObject {
    Q_OBJECT

private slots:
    void images_data();
    void images();
    void styleSheetReferences();
    void nineSlicesKeepACentre();
    void skinPictureRulesMatchTheSheet();
};

void TestResources::images_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QSize>("size");
    for (const ImageEntry& image : kImages)
        QTest::newRow(image.name) << QString(":/rc/images/%1.png").arg(image.name) << QSize(image.width, image.height);
}

void TestResources::images()
{
    QFETCH(QString, path);
    QFETCH(QSize, size);
    QVERIFY2(QFile::exists(path), qPrintable(path + " is not in the resources"));
    const QImage image(path);
    QVERIFY2(!image.isNull(), qPrintable(path + " does not load"));
    QCOMPARE(image.size(), size);
    QVERIFY2(hasVisiblePixel(image), qPrintable(path + " is fully transparent"));
}

void TestResources::styleSheetReferences()
{
    const QString sheet = styleSheet();
    QVERIFY2(!sheet.isEmpty(), "the style sheet is missing from the resources");
    // The start-up reads the sheet as Latin-1: anything beyond ASCII would come out garbled.
    for (const QChar c : sheet)
        QVERIFY2(c.unicode() < 0x80, "the style sheet is not plain ASCII");

    QStringList known;
    for (const ImageEntry& image : kImages)
        known << QString(":/rc/images/%1.png").arg(image.name);
    QStringList named;
    const QRegularExpression url(QStringLiteral("url\\(\\s*([^)\\s]+)\\s*\\)"));
    for (auto it = url.globalMatch(sheet); it.hasNext();) {
        const QString path = it.next().captured(1);
        QVERIFY2(
            known.contains(path), qPrintable(path + " named by the style sheet is not one of the program's images"));
        QVERIFY2(!QImage(path).isNull(), qPrintable(path + " does not load"));
        named << path;
    }
    // The pictures the window's and dialogs' rules are drawn with.
    for (const char* name : { "BgMainWindow", "BgMessageBox", "BgMainContentMask", "BgDialogButton",
             "BgDialogButtonHovered", "BgToolBoxButton", "BgToolbarButton", "BgTitleBarCloud", "BgMenuItem",
             "BgMenuBarSeparator", "BtnDropDownArrow", "BgSearchBox" })
        QVERIFY2(named.contains(QString(":/rc/images/%1.png").arg(name)), name);
}

void TestResources::nineSlicesKeepACentre()
{
    // A cut as large as the picture leaves no middle to stretch: the frame would smear.
    const QRegularExpression slice(
        QStringLiteral("border-image\\s*:\\s*url\\(([^)]+)\\)\\s+(\\d+)\\s+(\\d+)\\s+(\\d+)\\s+(\\d+)"));
    int count = 0;
    for (auto it = slice.globalMatch(styleSheet()); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        const QImage image(m.captured(1));
        QVERIFY2(!image.isNull(), qPrintable(m.captured(1)));
        const int top = m.captured(2).toInt(), right = m.captured(3).toInt();
        const int bottom = m.captured(4).toInt(), left = m.captured(5).toInt();
        QVERIFY2(image.height() > top + bottom, qPrintable(m.captured(1) + " is too low for its cut"));
        QVERIFY2(image.width() > left + right, qPrintable(m.captured(1) + " is too narrow for its cut"));
        ++count;
    }
    QCOMPARE(count, 4); // window, dialog, dialog button and its hover face
}

void TestResources::skinPictureRulesMatchTheSheet()
{
    // The default-skin button appends these declarations to bring the pictures back; they must
    // restore exactly what the sheet itself draws.
    const QString sheet = styleSheet();
    QVERIFY(sheet.contains("border-image:url(:/rc/images/BgMainWindow.png) 101 2 26 2 ;"));
    QVERIFY(sheet.contains("border-image:url(:/rc/images/BgMessageBox.png) 60 2 40 2 ;"));
}

QTEST_MAIN(TestResources)
#include "tst_resources.moc"
