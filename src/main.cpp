// Quorvane记账: a personal bookkeeping program.
#include <cstdio>

#include <QApplication>
#include <QStringList>

#include "analysis/reportviewloader.h"
#include "shell/startup.h"

int main(int argc, char* argv[])
{
    // --help and --version answer on the terminal and end, before the program makes anything.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const QString info = Startup::infoText(arguments);
    if (!info.isEmpty()) {
        std::fputs(info.toLocal8Bit().constData(), stdout);
        return 0;
    }

    ReportViewLoader::prepareApplication();
    QApplication app(argc, argv);
    ReportViewLoader::applicationCreated();
    app.setApplicationName(QStringLiteral("Quorvane"));
    return Startup::run(app);
}
