// Command-line front of the benchmark book generator.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <cstdio>

#include "bookgenerator.h"

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Writes a realistic book for benchmarks."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("book"), QStringLiteral("The book file to write (replaced)."));
    const QCommandLineOption bills(
        QStringLiteral("bills"), QStringLiteral("Number of bills."), QStringLiteral("n"), QStringLiteral("100000"));
    const QCommandLineOption years(
        QStringLiteral("years"), QStringLiteral("Years the bills span."), QStringLiteral("n"), QStringLiteral("5"));
    const QCommandLineOption seed(
        QStringLiteral("seed"), QStringLiteral("Random seed."), QStringLiteral("n"), QStringLiteral("20240601"));
    parser.addOptions({ bills, years, seed });
    parser.process(app);
    if (parser.positionalArguments().size() != 1)
        parser.showHelp(1);

    BookGenerator::Options options;
    options.bills = parser.value(bills).toInt();
    options.years = parser.value(years).toInt();
    options.seed = parser.value(seed).toUInt();
    if (options.bills < 0 || options.years < 1) {
        std::fprintf(stderr, "bills must be 0 or more and years 1 or more\n");
        return 1;
    }
    QElapsedTimer timer;
    timer.start();
    QString error;
    if (!BookGenerator::generate(parser.positionalArguments().first(), options, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    std::printf("%d bills over %d years written to %s in %lld ms\n", options.bills, options.years,
        qPrintable(parser.positionalArguments().first()), static_cast<long long>(timer.elapsed()));
    return 0;
}
