#pragma once

#include <QString>
#include <functional>

class ServiceServer;

// The whole of quorvane-service: its command line, the store, the account command and the server
// until a stop signal; the process's exit code. prepare, when given, sees the server before it
// takes its first request, with the path of the configuration file (empty when none is given).
int runService(int argc, char* argv[], const std::function<void(ServiceServer&, const QString&)>& prepare = {});
