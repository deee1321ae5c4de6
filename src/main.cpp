// Start-up of Quorvane记账.
#include <QApplication>
#include <cstdio>

#include "data/constants.h"
#include "data/filesetting.h"

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    FileSetting::getInstance();
    std::fprintf(stderr, "Quorvane记账 %s: the main window is not built yet. Books: %s\n",
        qPrintable(Constants::getInstance()->getVersion()), qPrintable(Constants::getInstance()->getDbDir()));
    return 0;
}
