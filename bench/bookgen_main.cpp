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
    BookGenerator::addOptions(parser);
    parser.process(app);
    if (parser.positionalArguments().size() != 1)
        parser.showHelp(1);

    BookGenerator::Options options;
    QString error;
    if (!BookGenerator::readOptions(parser, &options, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    QElapsedTimer timer;
    timer.start();
    if (!BookGenerator::generate(parser.positionalArguments().first(), options, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    std::printf("%d bills over %d years written to %s in %lld ms\n", options.bills, options.years,
        qPrintable(parser.positionalArguments().first()), static_cast<long long>(timer.elapsed()));
    return 0;
}
