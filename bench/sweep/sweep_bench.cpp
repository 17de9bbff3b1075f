// Sweep throughput, side by side with a plain Python loop. The comparison runs like with like:
// the Python loop computes the pump sheet as first packaged (33 formulas), and so does the
// project pump33.flw built from bench/sweep/pump33.tree; the packaged pump calculation of today
// (over a hundred steps, checks, three flow columns) is measured on its own. For each project:
// the compiled-case runner in this process (CPU time per case on one core), then
// "tessarin-cli sweep" with two workers over a grid (wall time, CPU time of all its processes,
// peak memory of the largest process). A small timing program, run by hand:
// build/bench/sweep_bench [CASES [runner]].

#include "caserunner.h"
#include "packagedproject.h"
#include "programdir.h"
#include "projectfile.h"
#include "qzexcel.h"
#include "qzproject.h"
#include "qztranslate.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QWidget>

#include <cstdio>
#include <ctime>

#include <sys/resource.h>

using namespace tessarin;

namespace {

double cpuSeconds(clockid_t clock)
{
    timespec t{};
    clock_gettime(clock, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

double childrenCpu()
{
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec)
           + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

// A project to sweep: two inputs over a grid, five reported values.
struct Subject
{
    const char *label;
    QByteArray document;
    QString first, second; // the inputs
    double firstLow, firstHigh, secondLow, secondHigh;
};

const QStringList kReports = {"轴功率", "比转数", "有效汽蚀余量", "汽蚀校核", "电机额定功率"};

void runInProcess(const Subject &s, int cases)
{
    QWidget area;
    TqzExcel excel(&area);
    TqzProject project;
    TqzTranslate codes;
    TqzProjectFile().loadBytes(s.document, QStringLiteral("bench"), project, excel.workbook());
    for (int i = 0; i < project.TreeView->count(); ++i)
        codes.AddWord(project.TreeView->nodeAt(i)->Name, project.TreeView->nodeAt(i)->Caption);
    TqzCaseRunner runner(project, excel.workbook(), codes, {s.first, s.second}, kReports);
    const double start = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
    int failed = 0;
    for (int c = 0; c < cases; ++c) {
        const double a = s.firstLow + (s.firstHigh - s.firstLow) * (c % 200) / 199;
        const double b = s.secondLow + (s.secondHigh - s.secondLow) * (c / 200 % 200) / 199;
        const TqzCaseOutcome out
            = runner.runCase({QString::number(a, 'g', 15), QString::number(b, 'g', 15)});
        failed += out.failedSteps > 0;
    }
    const double seconds = cpuSeconds(CLOCK_THREAD_CPUTIME_ID) - start;
    std::printf("%-14s runner, 1 core:         %8d cases  %7.3f s CPU  %8.0f cases/s per core "
                "(%.1f us/case; %lld shaped, %lld text steps; %d failing)\n",
                s.label,
                cases,
                seconds,
                cases / seconds,
                seconds / cases * 1e6,
                (long long)runner.shapedSteps(),
                (long long)runner.textSteps(),
                failed);
}

void runCommand(const Subject &s, const QString &file, int side)
{
    const double cpu0 = childrenCpu();
    QElapsedTimer wall;
    wall.start();
    QProcess sweep;
    sweep.setStandardOutputFile(QProcess::nullDevice());
    sweep.start(
        QStringLiteral(TESSARIN_BIN_DIR "/tessarin-cli"),
        {"sweep",
         file,
         "--vary",
         QStringLiteral("%1=%2:%3:%4").arg(s.first).arg(s.firstLow).arg(s.firstHigh).arg(side),
         "--vary",
         QStringLiteral("%1=%2:%3:%4").arg(s.second).arg(s.secondLow).arg(s.secondHigh).arg(side),
         "--report",
         kReports.join(','),
         "--jobs",
         "2"});
    sweep.waitForFinished(-1);
    const double seconds = double(wall.nsecsElapsed()) * 1e-9;
    const double cpu = childrenCpu() - cpu0;
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    const int n = side * side;
    std::printf("%-14s tessarin-cli sweep -j2: %8d cases  %7.3f s wall  %8.0f cases/s  "
                "(%.3f s CPU: %.0f cases/s per core, %.0f cases/s on 2 cores; peak RSS of a "
                "process %ld MB; exit %d)\n",
                s.label,
                n,
                seconds,
                n / seconds,
                cpu,
                n / cpu,
                2 * n / cpu,
                u.ru_maxrss / 1024,
                sweep.exitCode());
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    setProgramDirectory(QStringLiteral(TESSARIN_BIN_DIR));
    const int cases = argc > 1 ? std::atoi(argv[1]) : 20000;
    // "runner": the in-process runner alone, for profiling.
    const bool runnerOnly = argc > 2 && QByteArray(argv[2]) == "runner";
    QString why;
    Subject grown{"pump",
                  LoadPackagedProject(QStringLiteral("calcpack.dll"), &why),
                  "正常流量",
                  "操作温度",
                  20,
                  60,
                  10,
                  80};
    if (grown.document.isEmpty()) {
        std::fprintf(stderr, "no packaged project: %s\n", qPrintable(why));
        return 1;
    }
    QFile fixture(QStringLiteral(PUMP33_FLW));
    if (!fixture.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "%s: %s\n", PUMP33_FLW, qPrintable(fixture.errorString()));
        return 1;
    }
    const Subject first{"pump33", fixture.readAll(), "正常流量", "密度", 10, 100, 900, 1000};

    QTemporaryDir dir;
    for (const Subject *s : {&first, static_cast<const Subject *>(&grown)}) {
        runInProcess(*s, cases);
        if (runnerOnly)
            continue;
        const QString file
            = dir.path() + QLatin1Char('/') + QString::fromUtf8(s->label) + QStringLiteral(".flw");
        QFile out(file);
        if (!out.open(QIODevice::WriteOnly) || out.write(s->document) != s->document.size())
            return 1;
        out.close();
        for (const int side : {250, 500})
            runCommand(*s, file, side);
    }

    if (runnerOnly)
        return 0;
    // The Python loop: the 33 formulas of pump33.
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral(PUMP_LOOP_PY), QString::number(cases)});
    python.waitForFinished(-1);
    const QStringList figures = QString::fromUtf8(python.readAllStandardOutput()).split(' ');
    if (figures.size() >= 3)
        std::printf("pump33         python loop, 1 core:    %8s cases  %7.3f s CPU  %8s cases/s "
                    "per core\n",
                    qPrintable(figures[0]),
                    figures[1].toDouble(),
                    qPrintable(figures[2]));
    else
        std::printf("python loop: %s\n", qPrintable(python.readAllStandardError()));
    return 0;
}
