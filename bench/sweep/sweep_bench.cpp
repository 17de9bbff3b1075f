// Sweep throughput on the packaged pump calculation, side by side with the same method as a
// plain Python loop: the compiled-case runner in this process (CPU time per case on one core),
// then "tessarin-cli sweep" with two workers over grids of two sizes (wall time, CPU time of
// all its processes, peak memory of the largest process), then the Python loop. A small timing
// program, run by hand: build/bench/sweep_bench [CASES].

#include "caserunner.h"
#include "packagedproject.h"
#include "programdir.h"
#include "projectfile.h"
#include "qzexcel.h"
#include "qzproject.h"
#include "qztranslate.h"

#include <QApplication>
#include <QElapsedTimer>
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

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    setProgramDirectory(QStringLiteral(TESSARIN_BIN_DIR));
    const int cases = argc > 1 ? std::atoi(argv[1]) : 20000;
    QString why;
    const QByteArray document = LoadPackagedProject(QStringLiteral("calcpack.dll"), &why);
    if (document.isEmpty()) {
        std::fprintf(stderr, "no packaged project: %s\n", qPrintable(why));
        return 1;
    }
    const QStringList reports = {"轴功率", "比转数", "有效汽蚀余量", "汽蚀校核", "电机额定功率"};

    // 1. The runner in this process, one core.
    {
        QWidget area;
        TqzExcel excel(&area);
        TqzProject project;
        TqzTranslate codes;
        TqzProjectFile().loadBytes(document, QStringLiteral("packaged"), project, excel);
        for (int i = 0; i < project.TreeView->count(); ++i)
            codes.AddWord(project.TreeView->nodeAt(i)->Name, project.TreeView->nodeAt(i)->Caption);
        TqzCaseRunner runner(project, excel, codes, {"正常流量", "密度"}, reports);
        const double start = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
        int failed = 0;
        for (int c = 0; c < cases; ++c) {
            const TqzCaseOutcome out
                = runner.runCase({QString::number(10 + 90.0 * (c % 200) / 199, 'g', 15),
                                  QString::number(900 + 100.0 * (c / 200 % 200) / 199, 'g', 15)});
            failed += out.failedSteps > 0;
        }
        const double seconds = cpuSeconds(CLOCK_THREAD_CPUTIME_ID) - start;
        std::printf("runner, 1 core:          %8d cases  %7.3f s CPU  %8.0f cases/s per core "
                    "(%.1f us/case; %lld shaped, %lld text steps; %d failing)\n",
                    cases,
                    seconds,
                    cases / seconds,
                    seconds / cases * 1e6,
                    (long long)runner.shapedSteps(),
                    (long long)runner.textSteps(),
                    failed);
    }

    // 2. The command with two workers.
    QTemporaryDir dir;
    const QString file = dir.path() + QStringLiteral("/pump.flw");
    {
        QFile out(file);
        if (!out.open(QIODevice::WriteOnly) || out.write(document) != document.size())
            return 1;
    }
    for (const int side : {250, 500}) {
        const double cpu0 = childrenCpu();
        QElapsedTimer wall;
        wall.start();
        QProcess sweep;
        sweep.setStandardOutputFile(QProcess::nullDevice());
        sweep.start(QStringLiteral(TESSARIN_BIN_DIR "/tessarin-cli"),
                    {"sweep",
                     file,
                     "--vary",
                     QStringLiteral("正常流量=10:100:%1").arg(side),
                     "--vary",
                     QStringLiteral("密度=900:1000:%1").arg(side),
                     "--report",
                     reports.join(','),
                     "--jobs",
                     "2"});
        sweep.waitForFinished(-1);
        const double seconds = double(wall.nsecsElapsed()) * 1e-9;
        const double cpu = childrenCpu() - cpu0;
        rusage u{};
        getrusage(RUSAGE_CHILDREN, &u);
        const int n = side * side;
        std::printf("tessarin-cli sweep -j2:  %8d cases  %7.3f s wall  %8.0f cases/s  "
                    "(%.3f s CPU: %.0f cases/s per core; peak RSS of a process %ld MB; "
                    "exit %d)\n",
                    n,
                    seconds,
                    n / seconds,
                    cpu,
                    n / cpu,
                    u.ru_maxrss / 1024,
                    sweep.exitCode());
    }

    // 3. The Python loop.
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral(PUMP_LOOP_PY), QString::number(cases)});
    python.waitForFinished(-1);
    const QStringList figures = QString::fromUtf8(python.readAllStandardOutput()).split(' ');
    if (figures.size() >= 3)
        std::printf("python loop, 1 core:     %8s cases  %7.3f s CPU  %8s cases/s per core\n",
                    qPrintable(figures[0]),
                    figures[1].toDouble(),
                    qPrintable(figures[2]));
    else
        std::printf("python loop: %s\n", qPrintable(python.readAllStandardError()));
    return 0;
}
