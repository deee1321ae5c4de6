// Quorvane记账: a personal bookkeeping program.
#include <QApplication>

#include "analysis/reportviewloader.h"
#include "shell/startup.h"

int main(int argc, char* argv[])
{
    ReportViewLoader::prepareApplication();
    QApplication app(argc, argv);
    ReportViewLoader::applicationCreated();
    app.setApplicationName(QStringLiteral("Quorvane"));
    return Startup::run(app);
}
