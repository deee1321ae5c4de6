#pragma once

#include <QString>

class ServiceServer;

// What the tests of the program make the service do wrong, read from the configuration file at every
// request like the rest of it: {"faults": {"<path>": fault}}, a fault for every request of that
// path, an object with one of
//   {"hang": true}                 never answer (the connection stays open),
//   {"close": true}                close the connection without an answer,
//   {"status": 500}                answer with that HTTP status (with "location": "http://…",
//                                  a redirection there),
//   {"body": "<html>…"}            answer 200 with that text instead of the endpoint's own,
//   {"error": 7, "message": "m"}   answer 200 with that JSON error object,
// and optionally {"delay": ms}: the answer is sent that much later.
// Besides, a chain of redirections for the installer download: r302/r301/<path> answers 302 to
// r301/<path>, which answers 301 to <path>.
void installServiceFaults(ServiceServer& server, const QString& configPath);
