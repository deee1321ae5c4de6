#include <QFile>
#include <QJSEngine>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QTest>

// The arithmetic of the chart script (:/rc/chart/charts.js), run in a plain script engine: shares,
// slice angles, axis steps, label spreading, bar places, and how texts become bold runs or stay text.
class TestChartMaths : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void percentages_data();
    void percentages();
    void slicesFollowTheMagnitudes();
    void niceScale_data();
    void niceScale();
    void labelsDoNotOverlap_data();
    void labelsDoNotOverlap();
    void barsStandInTheirSlots();
    void slicesNeverShareAColour_data();
    void slicesNeverShareAColour();
    void legendColumnsAreEven_data();
    void legendColumnsAreEven();
    void pieLeavesRoomForTheFigures_data();
    void pieLeavesRoomForTheFigures();
    void crowdedSidesKeepTheLargestSlices();
    void markupRuns_data();
    void markupRuns();
    void pointFormatEscapesItsValues();

private:
    // Evaluates expression with the script loaded and gives its value as JSON text.
    QString json(const QString& expression);

    QJSEngine engine;
};

void TestChartMaths::initTestCase()
{
    QFile file(":/rc/chart/charts.js");
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QJSValue result = engine.evaluate(QString::fromUtf8(file.readAll()), "charts.js");
    QVERIFY2(!result.isError(), qPrintable(result.toString()));
    QVERIFY(engine.globalObject().property("Highcharts").property("Chart").isCallable());
}

QString TestChartMaths::json(const QString& expression)
{
    const QJSValue value = engine.evaluate("JSON.stringify(" + expression + ")");
    if (value.isError())
        return "error: " + value.toString();
    return value.toString();
}

void TestChartMaths::percentages_data()
{
    QTest::addColumn<QString>("values");
    QTest::addColumn<QString>("shares");
    QTest::newRow("expenses") << "[-30, -50, -20]"
                              << "[30,50,20]";
    QTest::newRow("with a zero") << "[1, 0, 3]"
                                 << "[25,0,75]";
    QTest::newRow("all zero") << "[0, 0]"
                              << "[0,0]";
    QTest::newRow("none") << "[]"
                          << "[]";
}

void TestChartMaths::percentages()
{
    QFETCH(QString, values);
    QFETCH(QString, shares);
    QCOMPARE(json("Highcharts.maths.percentages(" + values + ")"), shares);
}

void TestChartMaths::slicesFollowTheMagnitudes()
{
    const QJsonArray slices
        = QJsonDocument::fromJson(json("Highcharts.maths.pieSlices([-30, 0, -70])").toUtf8()).array();
    QCOMPARE(slices.size(), 3);
    QVERIFY(slices.at(1).isNull());
    const double start = -M_PI / 2;
    QCOMPARE(slices.at(0)["start"].toDouble(), start);
    QCOMPARE(slices.at(0)["end"].toDouble(), start + 0.3 * 2 * M_PI);
    QCOMPARE(slices.at(2)["start"].toDouble(), slices.at(0)["end"].toDouble());
    QCOMPARE(slices.at(2)["end"].toDouble(), start + 2 * M_PI);
    QCOMPARE(slices.at(2)["middle"].toDouble(), start + (0.3 + 0.35) * 2 * M_PI);
    QCOMPARE(json("Highcharts.maths.pieSlices([0, 0])"), QString("[null,null]"));
}

void TestChartMaths::niceScale_data()
{
    QTest::addColumn<QString>("max");
    QTest::addColumn<QString>("scale");
    QTest::newRow("nothing") << "0"
                             << "{\"max\":5,\"step\":1}";
    QTest::newRow("small") << "9.5"
                           << "{\"max\":10,\"step\":2}";
    QTest::newRow("round") << "100"
                           << "{\"max\":100,\"step\":20}";
    QTest::newRow("quarter steps") << "1234"
                                   << "{\"max\":1250,\"step\":250}";
}

void TestChartMaths::niceScale()
{
    QFETCH(QString, max);
    QFETCH(QString, scale);
    QCOMPARE(json("Highcharts.maths.niceScale(" + max + ", 5)"), scale);
}

void TestChartMaths::labelsDoNotOverlap_data()
{
    QTest::addColumn<QString>("wanted");
    QTest::addColumn<QString>("placed");
    QTest::newRow("apart") << "[100, 300]"
                           << "[100,300]";
    QTest::newRow("crowded, given out of order") << "[105, 100, 300]"
                                                 << "[116,100,300]";
    QTest::newRow("above the top") << "[-20]"
                                   << "[0]";
    QTest::newRow("crowded at the bottom") << "[390, 395]"
                                           << "[368,384]";
}

void TestChartMaths::labelsDoNotOverlap()
{
    QFETCH(QString, wanted);
    QFETCH(QString, placed);
    QCOMPARE(json("Highcharts.maths.spreadLabels(" + wanted + ", 16, 0, 400)"), placed);
}

void TestChartMaths::barsStandInTheirSlots()
{
    QCOMPARE(json("Highcharts.maths.columnLayout(100, 2, 0.2, 0.2)"), QString("{\"barWidth\":18,\"offsets\":[26,56]}"));
}

void TestChartMaths::slicesNeverShareAColour_data()
{
    QTest::addColumn<int>("slices");
    QTest::newRow("23 accounts") << 23;
    QTest::newRow("a long list") << 400;
}

void TestChartMaths::slicesNeverShareAColour()
{
    QFETCH(int, slices);
    const QJsonArray colours = QJsonDocument::fromJson(json(QString("(function() { var c = []; for (var i = 0; i < %1; "
                                                                    "i++) c.push(Highcharts.maths.colorAt(i)); "
                                                                    "return c; })()")
                                                                .arg(slices))
                                                           .toUtf8())
                                   .array();
    QCOMPARE(colours.size(), slices);
    QSet<QString> seen;
    for (const QJsonValue& colour : colours) {
        QVERIFY(!colour.toString().isEmpty());
        QVERIFY2(!seen.contains(colour.toString()), qPrintable(colour.toString()));
        seen.insert(colour.toString());
    }
}

void TestChartMaths::legendColumnsAreEven_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("available");
    QTest::addColumn<QString>("layout");
    // Items 16 tall with 8 below each, as the pie page asks.
    QTest::newRow("fits as asked") << 10 << 400 << "{\"columns\":1,\"perColumn\":10,\"margin\":8}";
    QTest::newRow("fits closer together") << 23 << 384 << "{\"columns\":1,\"perColumn\":23,\"margin\":0}";
    QTest::newRow("one too many for a column") << 17 << 250 << "{\"columns\":2,\"perColumn\":9,\"margin\":8}";
    QTest::newRow("two columns, even") << 23 << 300 << "{\"columns\":2,\"perColumn\":12,\"margin\":8}";
    QTest::newRow("four columns") << 40 << 300 << "{\"columns\":4,\"perColumn\":10,\"margin\":8}";
    QTest::newRow("nothing") << 0 << 300 << "{\"columns\":0,\"perColumn\":0,\"margin\":8}";
}

void TestChartMaths::legendColumnsAreEven()
{
    QFETCH(int, count);
    QFETCH(int, available);
    QFETCH(QString, layout);
    QCOMPARE(json(QString("Highcharts.maths.legendColumns(%1, %2, 16, 8)").arg(count).arg(available)), layout);
}

void TestChartMaths::pieLeavesRoomForTheFigures_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("widest");
    QTest::addColumn<int>("widestFixed");
    QTest::addColumn<bool>("whole");
    QTest::addColumn<bool>("figuresFit");
    QTest::newRow("wide: whole labels") << 900 << 500 << 200 << 120 << true << true;
    QTest::newRow("the window the program opens with") << 540 << 420 << 210 << 125 << false << true;
    QTest::newRow("narrow") << 400 << 300 << 220 << 130 << false << true;
    // Not even the figures fit beside the smallest pie: its labels are left out.
    QTest::newRow("very narrow") << 360 << 300 << 220 << 130 << false << false;
    QTest::newRow("no labels") << 400 << 300 << 0 << 0 << true << true;
}

// The figures of every label fit beside the pie unless the pie is as small as it gets, and the
// labels are whole when the pie can stay a fair size beside them.
void TestChartMaths::pieLeavesRoomForTheFigures()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, widest);
    QFETCH(int, widestFixed);
    QFETCH(bool, whole);
    QFETCH(bool, figuresFit);
    const QJsonObject layout = QJsonDocument::fromJson(json(QString("Highcharts.maths.pieLayout(%1, %2, %3, %4, 28)")
                                                                .arg(width)
                                                                .arg(height)
                                                                .arg(widest)
                                                                .arg(widestFixed))
                                                           .toUtf8())
                                   .object();
    const double radius = layout["radius"].toDouble();
    const double room = layout["room"].toDouble();
    QVERIFY2(radius >= 25, qPrintable(QString::number(radius)));
    QVERIFY(radius <= height / 2.0);
    // The pie and the room on both sides stay within the plot.
    QVERIFY(2 * (radius + 28 + room) <= width);
    QCOMPARE(room >= widestFixed, figuresFit);
    if (!figuresFit)
        QCOMPARE(radius, 25.0);
    QCOMPARE(room >= widest, whole);
}

void TestChartMaths::crowdedSidesKeepTheLargestSlices()
{
    QCOMPARE(json("Highcharts.maths.labelsThatFit([5, 1, 9, 2, 7], 16, 100)"), QString("[0,1,2,3,4]"));
    QCOMPARE(json("Highcharts.maths.labelsThatFit([5, 1, 9, 2, 7], 16, 50)"), QString("[0,2,4]"));
    QCOMPARE(json("Highcharts.maths.labelsThatFit([3, 3, 3], 16, 32)"), QString("[0,1]"));
    QCOMPARE(json("Highcharts.maths.labelsThatFit([3], 16, 10)"), QString("[]"));
}

void TestChartMaths::markupRuns_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("runs");
    QTest::newRow("bold title")
        << "<b>2013</b>年<b>支出</b>分析"
        << "[{\"text\":\"2013\",\"bold\":true,\"line\":0},{\"text\":\"年\",\"bold\":false,\"line\":0},"
           "{\"text\":\"支出\",\"bold\":true,\"line\":0},{\"text\":\"分析\",\"bold\":false,\"line\":0}]";
    QTest::newRow("line break") << "a<br/>b"
                                << "[{\"text\":\"a\",\"bold\":false,\"line\":0},{\"text\":\"b\",\"bold\":false,"
                                   "\"line\":1}]";
    QTest::newRow("escaped tags are text") << "&lt;b&gt;x&amp;"
                                           << "[{\"text\":\"<b>x&\",\"bold\":false,\"line\":0}]";
    QTest::newRow("other tags are text") << "<i>x</i>"
                                         << "[{\"text\":\"<i>x</i>\",\"bold\":false,\"line\":0}]";
}

void TestChartMaths::markupRuns()
{
    QFETCH(QString, text);
    QFETCH(QString, runs);
    engine.globalObject().setProperty("markup", text);
    QCOMPARE(json("Highcharts.maths.parseMarkup(markup)"), runs);
}

void TestChartMaths::pointFormatEscapesItsValues()
{
    // Amounts with two decimals, as the tables write them.
    const QString point = "{ series: { name: ' ' }, y: -3334.2, percentage: 100 / 3, name: '<b>Tom</b>' }";
    QCOMPARE(
        json("Highcharts.maths.formatPoint('{series.name} <b>{point.y}元: {point.percentage}%</b>', " + point + ", 2)"),
        QString("\"  <b>-3334.20元: 33.33%</b>\""));
    QCOMPARE(
        json("Highcharts.maths.formatPoint('{point.name}', " + point + ")"), QString("\"&lt;b&gt;Tom&lt;/b&gt;\""));
}

QTEST_GUILESS_MAIN(TestChartMaths)
#include "tst_chartmaths.moc"
