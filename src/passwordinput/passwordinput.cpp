#include "passwordinput.h"

#include <csignal>
#include <cstdio>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace {

struct termios savedTerminal;
bool echoOff = false;

void restoreTerminal()
{
    if (echoOff) {
        tcsetattr(STDIN_FILENO, TCSANOW, &savedTerminal);
        echoOff = false;
    }
}

// Ctrl-C at the prompt must not leave the terminal without echo.
void interrupted(int signal)
{
    restoreTerminal();
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

bool readLine(std::string* line)
{
    line->clear();
    int c;
    while ((c = std::fgetc(stdin)) != EOF && c != '\n')
        line->push_back(char(c));
    if (!line->empty() && line->back() == '\r')
        line->pop_back();
    return c == '\n' || !line->empty();
}

// One line from the terminal, not shown as it is typed.
bool askHidden(const QString& prompt, std::string* line)
{
    std::fprintf(stderr, "%s", qPrintable(prompt));
    std::fflush(stderr);
    if (tcgetattr(STDIN_FILENO, &savedTerminal) == 0) {
        struct termios silent = savedTerminal;
        silent.c_lflag &= ~tcflag_t(ECHO);
        echoOff = tcsetattr(STDIN_FILENO, TCSANOW, &silent) == 0;
    }
    const auto previousInterrupt = std::signal(SIGINT, interrupted);
    const auto previousTerminate = std::signal(SIGTERM, interrupted);
    const bool read = readLine(line);
    restoreTerminal();
    std::signal(SIGINT, previousInterrupt);
    std::signal(SIGTERM, previousTerminate);
    // The user's Return was not echoed either.
    std::fprintf(stderr, "\n");
    return read;
}

} // namespace

QString PasswordInput::read(const QString& prompt, bool confirm, QString* error)
{
    std::string line;
    if (!isatty(STDIN_FILENO)) {
        if (!readLine(&line) || line.empty()) {
            *error = QStringLiteral("no password on standard input");
            return QString();
        }
        return QString::fromLocal8Bit(line.data(), qsizetype(line.size()));
    }
    if (!askHidden(prompt, &line) || line.empty()) {
        *error = QStringLiteral("no password given");
        return QString();
    }
    if (confirm) {
        std::string again;
        if (!askHidden(QStringLiteral("Again: "), &again) || again != line) {
            *error = QStringLiteral("the two passwords differ");
            return QString();
        }
    }
    return QString::fromLocal8Bit(line.data(), qsizetype(line.size()));
}
