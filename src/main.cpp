// Quorvane记账: a personal bookkeeping program.
#include <QApplication>

#include "shell/startup.h"

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("Quorvane"));
    return Startup::run(app);
}
