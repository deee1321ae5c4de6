// quorvane-service-test: quorvane-service with the faults and redirections the tests of the program
// ask of it (servicefaults.h); the tests run this one, users the other.
#include "serviceserver.h"
#include "servicefaults.h"
#include "servicemain.h"

int main(int argc, char* argv[])
{
    return runService(argc, argv, installServiceFaults);
}
