// quorvane-service: the web service Quorvane记账 synchronises books with, asks for new releases and
// sends feedback to. Run it, create an account with --add-user and point the program at it.
#include "servicemain.h"

int main(int argc, char* argv[])
{
    return runService(argc, argv);
}
