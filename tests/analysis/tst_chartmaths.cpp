#include <QFile>
#include <QJSEngine>
#include <QJsonArray>
#include <QJsonDocument>
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
    const QString point = "{ series: { name: ' ' }, y: -12, percentage: 100 / 3, name: '<b>Tom</b>' }";
    QCOMPARE(
        json("Highcharts.maths.formatPoint('{series.name} <b>{point.y}元: {point.percentage}%</b>', " + point + ", 2)"),
        QString("\"  <b>-12元: 33.33%</b>\""));
    QCOMPARE(
        json("Highcharts.maths.formatPoint('{point.name}', " + point + ")"), QString("\"&lt;b&gt;Tom&lt;/b&gt;\""));
}

QTEST_GUILESS_MAIN(TestChartMaths)
#include "tst_chartmaths.moc"
