// The start-up of the real program (--program PATH) on the generated book: a copy of the program in
// a folder of its own, with the book as its only book and the settings a user has (the start-up
// backup included; only the update check is off, since it would reach for the network), starts on
// the display the benchmark runs on (xvfb-run in scripts/bench.sh). Each run starts on a fresh copy
// of the book without earlier backups, with everything written synced to the disk first, and
// watches the program's CPU time in /proc until it goes quiet. The start-up work ends at the first
// moment after which the program uses at most 20 ms of CPU in the next second: the figures are the
// time from starting the program until then, the CPU time it used by then, and its peak resident
// memory (VmHWM).
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcessEnvironment>
#include <QSettings>
#include <QThread>
#include <cstdio>
#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "benchsupport.h"

namespace {

// user + system time of a process, in clock ticks.
long cpuTicks(pid_t pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    // The command name may hold blanks: the fields are counted from its closing parenthesis.
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    // After the name: state is field 3, utime field 14, stime field 15.
    return fields.value(11).toLong() + fields.value(12).toLong();
}

struct StartupFigures {
    double workMs = 0;
    double cpuMs = 0;
    double peakMiB = 0;
    bool ok = false;
};

// A folder of the program's own: the program keeps its books, backups and settings in data/ beside
// itself. Made once per book size.
QString prepareFolder(const BenchBook& book)
{
    const QString folder = book.root + QStringLiteral("/program");
    QDir().mkpath(folder + QStringLiteral("/data"));
    const QString program = folder + QStringLiteral("/quorvane");
    if (!QFile::copy(book.program, program)) {
        std::fprintf(stderr, "cannot copy %s\n", qPrintable(book.program));
        return QString();
    }
    QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QSettings settings(folder + QStringLiteral("/data/Quorvane.ini"), QSettings::IniFormat);
    settings.setValue(QStringLiteral("Common/EnableAutoUpdate"), false);
    return folder;
}

StartupFigures startOnce(const QString& folder, const BenchBook& book)
{
    StartupFigures figures;
    // The book as the last run left it, without the backups of earlier runs; everything written
    // reaches the disk before the program starts, so that no writing of the benchmark's own waits
    // in its way.
    const QString data = folder + QStringLiteral("/data");
    QDir(data + QStringLiteral("/backup")).removeRecursively();
    QFile::remove(data + QStringLiteral("/bench.db"));
    if (!QFile::copy(book.generated, data + QStringLiteral("/bench.db"))) {
        std::fprintf(stderr, "cannot copy the book to %s\n", qPrintable(data));
        return figures;
    }
    QFile::setPermissions(data + QStringLiteral("/bench.db"), QFile::ReadOwner | QFile::WriteOwner);
    sync();
    const QString program = folder + QStringLiteral("/quorvane");

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // The benchmark's own steps run offscreen; the program gets the display when there is one.
    if (environment.contains(QStringLiteral("DISPLAY")))
        environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    environment.insert(QStringLiteral("LANG"), QStringLiteral("zh_CN.UTF-8"));
    std::vector<QByteArray> strings;
    for (const QString& entry : environment.toStringList())
        strings.push_back(entry.toLocal8Bit());
    std::vector<char*> envp;
    for (QByteArray& entry : strings)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    QByteArray path = QFile::encodeName(program);
    QByteArray word("book");
    QByteArray name("bench.db");
    char* argv[] = { path.data(), word.data(), name.data(), nullptr };

    QElapsedTimer clock;
    clock.start();
    pid_t pid = 0;
    if (posix_spawn(&pid, path.constData(), nullptr, nullptr, argv, envp.data()) != 0) {
        std::fprintf(stderr, "cannot start %s\n", path.constData());
        return figures;
    }
    const double msPerTick = 1000.0 / double(sysconf(_SC_CLK_TCK));
    // Samples of (ms since the start, CPU ticks) until a second with next to no CPU has passed.
    std::vector<std::pair<double, long>> samples;
    const double quietWindow = 1000;
    const long quietTicks = long(20 / msPerTick);
    double endOfWork = -1;
    // The earliest sample that may still be the end: one after which the program used at most
    // quietTicks for a whole quiet window.
    size_t candidate = 0;
    while (endOfWork < 0 && clock.elapsed() < 60000) {
        const long ticks = cpuTicks(pid);
        if (ticks < 0)
            break;
        const double now = double(clock.nsecsElapsed()) / 1e6;
        samples.emplace_back(now, ticks);
        for (; candidate < samples.size() && samples[candidate].first <= now - quietWindow; ++candidate) {
            if (ticks - samples[candidate].second <= quietTicks) {
                endOfWork = samples[candidate].first;
                figures.cpuMs = double(samples[candidate].second) * msPerTick;
                break;
            }
        }
        QThread::msleep(5);
    }
    figures.peakMiB = double(statusKbOf(pid, "VmHWM")) / 1024.0;
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    figures.workMs = endOfWork;
    figures.ok = endOfWork >= 0;
    return figures;
}

GroupResult programStartup(const BenchBook& book)
{
    GroupResult result;
    if (book.program.isEmpty())
        return result;
    const QString folder = prepareFolder(book);
    if (folder.isEmpty())
        return result;
    std::vector<double> work;
    std::vector<double> cpu;
    std::vector<double> peak;
    for (int run = 0; run < book.runs; ++run) {
        const StartupFigures figures = startOnce(folder, book);
        if (!figures.ok) {
            std::fprintf(stderr, "the program did not go quiet (run %d)\n", run + 1);
            continue;
        }
        work.push_back(figures.workMs);
        cpu.push_back(figures.cpuMs);
        peak.push_back(figures.peakMiB);
    }
    const char* display = qEnvironmentVariableIsEmpty("DISPLAY") ? "offscreen" : "on the display";
    result.rows.push_back({ "real program: start until quiet, bill list shown", { median(work), 0, false }, "ms" });
    result.rows.push_back({ "real program: CPU time until then", { median(cpu), 0, false }, "ms" });
    result.rows.push_back({ "real program: peak resident memory (VmHWM)", { median(peak), 0, false }, "MiB" });
    char note[400];
    std::snprintf(note, sizeof note,
        "%d bills, the real program started %zu time%s %s (start-up backup on, update check off): the start-up work "
        "ends where the program uses at most 20 ms of CPU in the next second; CPU time in 10 ms ticks of /proc.",
        book.bills, work.size(), work.size() == 1 ? "" : "s", display);
    result.notes.push_back(note);
    return result;
}

const bool registered = registerSteps(50, "startup", programStartup);

} // namespace
