// tessarin-cli sweep FILE (--vary NAME=FROM:TO:STEPS... | --sample NAME=DIST... --cases N
//                     [--seed S] [--summary]) --report NAME[,NAME...] [--set NAME=VALUE]...
//                     [--format csv|jsonl] [--shard K/N] [--jobs N]: the run over many cases.
//
// The project is read once and handed to worker processes (this tool again, as the hidden
// command "sweep-worker"); each loads it once, compiles every formula once and runs its cases
// without pages and without the log. Cases go to the workers in slices as they become free;
// rows are printed in case order as soon as every earlier slice has come back, so only the
// slices in flight are held.

#include "headlessproject.h"
#include "sweepplan.h"

#include "atomicfile.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryFile>
#include <QThread>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <vector>

#include <unistd.h>

namespace tessarin::cli {
namespace {

// Slices handed to a worker ahead of its answers, so it never waits for the next one.
constexpr int kSlicesInFlight = 2;
// Workers per core at most: more only cost memory.
constexpr int kWorkersPerCore = 4;

struct Worker
{
    std::unique_ptr<QProcess> process;
    QByteArray pending; // output not yet read as a whole answer
    int inFlight = 0;
};

// Checks every name against the project before anything runs; unknown ones are usage errors.
void checkNames(const SweepPlan &plan, const QByteArray &document)
{
    HeadlessProject check;
    check.loadBytes(document, plan.fileName, QStringLiteral("sweep"));
    if (check.project.TreeView->count() == 0)
        throw Error(plan.fileName + QStringLiteral(": the project has no nodes to run"));
    try {
        for (const auto &[name, value] : plan.sets)
            check.set(name, value);
    } catch (const Error &e) {
        throw UsageError(e.message());
    }
    for (const QString &name : plan.inputNames()) {
        try {
            check.set(name, QStringLiteral("0"));
        } catch (const Error &) {
            throw UsageError(
                QStringLiteral("%1 %2: no report cell is tagged so and no node is "
                               "named so")
                    .arg(plan.axes.empty() ? QStringLiteral("--sample") : QStringLiteral("--vary"),
                         name));
        }
    }
    for (const QString &name : plan.reports)
        if (!check.node(name))
            throw UsageError(
                QStringLiteral("--report %1: the project has no node of that name").arg(name));
}

QStringList workerArguments(const QCommandLineParser &parser, const QString &file)
{
    QStringList args{QStringLiteral("sweep-worker")};
    for (const char *name :
         {"vary", "sample", "cases", "seed", "report", "set", "format", "shard"}) {
        const QString option = QString::fromLatin1(name);
        for (const QString &value : parser.values(option))
            args << QStringLiteral("--") + option << value;
    }
    if (parser.isSet(QStringLiteral("summary")))
        args << QStringLiteral("--summary");
    return args << QStringLiteral("--") << file;
}

// "12000/50000 cases, 31000 cases/s, 1 s left" on a terminal's standard error.
class Progress
{
public:
    explicit Progress(qint64 total)
        : m_total(total)
        , m_shown(::isatty(2) == 1)
    {
        m_clock.start();
    }
    void update(qint64 done, bool last = false)
    {
        if (!m_shown || (!last && m_clock.elapsed() - m_lastMs < 250))
            return;
        m_lastMs = m_clock.elapsed();
        const double seconds = std::max(1e-3, double(m_lastMs) / 1000);
        const double rate = double(done) / seconds;
        const double left = rate > 0 ? double(m_total - done) / rate : 0;
        std::fprintf(stderr,
                     "\r%lld/%lld cases, %.0f cases/s, %.0f s left   ",
                     (long long)done,
                     (long long)m_total,
                     rate,
                     std::ceil(left));
        if (last)
            std::fputc('\n', stderr);
        std::fflush(stderr);
    }

private:
    qint64 m_total;
    bool m_shown;
    QElapsedTimer m_clock;
    qint64 m_lastMs = -1000;
};

int run(const QCommandLineParser &parser)
{
    const SweepPlan plan = parseSweepPlan(parser);
    int jobs = QThread::idealThreadCount();
    if (parser.isSet(QStringLiteral("jobs"))) {
        bool ok = false;
        jobs = parser.value(QStringLiteral("jobs")).toInt(&ok);
        if (!ok || jobs < 1)
            throw UsageError(QStringLiteral("--jobs \"%1\": expected a whole number >= 1")
                                 .arg(parser.value(QStringLiteral("jobs"))));
    }
    // The project is read once, before any row: a missing file, a pipe or a damaged project
    // fails here, and the workers read this copy.
    const QByteArray document = readWholeFile(plan.fileName);
    checkNames(plan, document);
    QTemporaryFile copy(QDir::tempPath() + QStringLiteral("/tessarin-sweep-XXXXXX.flw"));
    if (!copy.open() || copy.write(document) != document.size() || !copy.flush())
        throw Error(QStringLiteral("a copy of the project for the workers cannot be written in "
                                   "%1: %2")
                        .arg(QDir::tempPath(), copy.errorString()));

    const qint64 cases = plan.end - plan.first;
    const bool numbers = plan.summary && !plan.sharded;
    const int cores = std::max(1, QThread::idealThreadCount());
    const qint64 slice = std::clamp<qint64>(cases / (qint64(std::min(jobs, cores)) * 8), 1, 512);
    const qint64 slices = (cases + slice - 1) / slice;
    jobs = static_cast<int>(std::min<qint64>(
        {qint64(jobs), qint64(cores) * kWorkersPerCore, std::max<qint64>(slices, 1)}));
    if (!numbers && !plan.jsonl)
        printLine(sweepHeader(plan));
    std::fflush(stdout);
    if (cases == 0)
        return 0;

    std::vector<std::vector<double>> sampled(numbers ? size_t(plan.reports.size()) : 0);
    std::vector<Worker> workers(static_cast<size_t>(jobs));
    qint64 nextCase = plan.first;
    qint64 nextRow = plan.first;
    std::map<qint64, QByteArray> done; // finished slices waiting for earlier ones
    QString failure;
    QEventLoop loop;
    Progress progress(cases);
    const QStringList args = workerArguments(parser, copy.fileName());

    const auto fail = [&](const QString &why) {
        if (failure.isEmpty())
            failure = why;
        loop.exit(1);
    };
    const auto feed = [&](Worker &w) {
        while (w.inFlight < kSlicesInFlight && nextCase < plan.end) {
            const qint64 count = std::min(slice, plan.end - nextCase);
            w.process->write(QByteArray::number(nextCase) + ' ' + QByteArray::number(count) + '\n');
            ++w.inFlight;
            nextCase += count;
        }
        if (nextCase == plan.end && w.inFlight == 0)
            w.process->closeWriteChannel();
    };
    const auto emitSlice = [&](const QByteArray &block) {
        if (!numbers) {
            printRaw(block);
            return;
        }
        for (const QByteArray &line : block.split('\n')) {
            if (line.isEmpty())
                continue;
            const QList<QByteArray> fields = line.split('\t');
            for (size_t k = 0; k < sampled.size(); ++k) {
                const QByteArray field = fields.value(qsizetype(k));
                double v = std::nan("");
                std::from_chars(field.constData(), field.constData() + field.size(), v);
                sampled[k].push_back(v);
            }
        }
    };
    const auto receive = [&](Worker &w) {
        w.pending += w.process->readAllStandardOutput();
        while (!w.pending.isEmpty()) {
            const qsizetype eol = w.pending.indexOf('\n');
            if (eol < 0)
                break;
            if (w.pending.startsWith('!')) {
                fail(QString::fromUtf8(w.pending.mid(1, eol - 1)));
                return;
            }
            const QList<QByteArray> head = w.pending.mid(1, eol - 1).split(' ');
            if (!w.pending.startsWith('#') || head.size() != 3) {
                fail(QStringLiteral("a worker answered \"%1\"")
                         .arg(QString::fromUtf8(w.pending.left(eol))));
                return;
            }
            const qint64 first = head[0].toLongLong();
            const qint64 count = head[1].toLongLong();
            const qint64 bytes = head[2].toLongLong();
            if (w.pending.size() < eol + 1 + bytes)
                break;
            done.emplace(first, w.pending.mid(eol + 1, bytes));
            w.pending.remove(0, eol + 1 + bytes);
            --w.inFlight;
            (void)count;
        }
        for (auto it = done.begin(); it != done.end() && it->first == nextRow;) {
            const qint64 rows = std::min(slice, plan.end - nextRow);
            emitSlice(it->second);
            nextRow += rows;
            it = done.erase(it);
        }
        std::fflush(stdout);
        progress.update(nextRow - plan.first);
        if (nextRow == plan.end)
            loop.exit(0);
        else
            feed(w);
    };

    for (Worker &w : workers) {
        w.process = std::make_unique<QProcess>();
        QProcess *process = w.process.get();
        Worker *self = &w;
        process->setProcessChannelMode(QProcess::SeparateChannels);
        process->setReadChannel(QProcess::StandardOutput);
        QObject::connect(process, &QProcess::readyReadStandardOutput, &loop, [&receive, self] {
            receive(*self);
        });
        QObject::connect(process, &QProcess::finished, &loop, [&, process, self] {
            receive(*self);
            if (self->inFlight > 0)
                fail(QStringLiteral("a worker process ended early: %1")
                         .arg(QString::fromUtf8(process->readAllStandardError()).trimmed()));
        });
        QObject::connect(
            process, &QProcess::errorOccurred, &loop, [&, process](QProcess::ProcessError error) {
                if (error == QProcess::FailedToStart)
                    fail(QStringLiteral("a worker process could not start: %1")
                             .arg(process->errorString()));
            });
        process->start(QCoreApplication::applicationFilePath(), args);
        feed(w);
    }
    const int status = loop.exec();
    for (Worker &w : workers) {
        w.process->closeWriteChannel();
        if (!w.process->waitForFinished(status == 0 ? 30000 : 1000)) {
            w.process->kill();
            w.process->waitForFinished();
        }
    }
    if (status != 0)
        throw Error(failure);
    progress.update(cases, true);
    if (numbers)
        for (const QString &line : summaryLines(plan.reports, sampled, plan.jsonl))
            printLine(line);
    return 0;
}

const bool registered = registerCommand({
    QStringLiteral("sweep"),
    QStringLiteral("Run a project over a grid of input values (--vary) or Monte Carlo samples "
                   "(--sample) and print one row per case in case order (inputs, reported "
                   "values, failed steps) or, with --summary, statistics of the reported values; "
                   "spread over the cores."),
    [](QCommandLineParser &parser) {
        addProjectFileArgument(parser);
        addSweepOptions(parser);
        parser.addOption(QCommandLineOption(
            QStringLiteral("jobs"),
            QStringLiteral("Worker processes (default: one per core; at most %1 per core and "
                           "never more than there are slices of cases).")
                .arg(kWorkersPerCore),
            QStringLiteral("N")));
    },
    run,
});

} // namespace
} // namespace tessarin::cli
