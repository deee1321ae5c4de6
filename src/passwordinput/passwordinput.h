#pragma once

#include <QString>

// A password read from standard input rather than the command line, where every user of the
// computer can read it (/proc/PID/cmdline) while the command runs. On a terminal the user is asked
// for it and what they type is not shown; otherwise the first line of the input is the password,
// as a script gives it: printf '%s\n' "$PASSWORD" | command.
class PasswordInput {
public:
    // The password without its line break; on a terminal, with confirm, asked for twice. Empty, with
    // the reason in *error, when none was given or the two differ.
    static QString read(const QString& prompt, bool confirm, QString* error);
};
