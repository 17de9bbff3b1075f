// tessarin-cli sweep FILE --vary NAME=FROM:TO:STEPS [--vary ...] --report NAME[,NAME...]
//                     [--set NAME=VALUE]... [--jobs N]: the run over a grid of input values.
//
// The pages are widgets and live on one thread, so the cases are spread over worker processes
// (this tool again, as the hidden command "sweep-worker"), each loading the project once and
// running one case at a time from the loaded document. Cases go to the workers as they become
// free; rows are printed in case order as soon as every earlier case has finished.

#include "headlessproject.h"
#include "numbertext.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QThread>

#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <vector>

namespace tessarin::cli {
namespace {

constexpr qint64 kMaxCases = 100'000'000;
// Cases handed to a worker ahead of its answers, so it never waits for the next one.
constexpr int kCasesInFlight = 2;

struct Axis
{
    QString name;
    double from = 0;
    double to = 0;
    int steps = 1;
    double at(int k) const { return steps == 1 ? from : from + (to - from) * k / (steps - 1); }
};

Axis parseAxis(const QString &text)
{
    const qsizetype eq = text.lastIndexOf(QLatin1Char('='));
    const QStringList range = eq > 0 ? text.mid(eq + 1).split(QLatin1Char(':')) : QStringList();
    Axis axis;
    bool ok = range.size() == 3;
    if (ok) {
        axis.name = text.left(eq);
        bool a = false;
        bool b = false;
        bool c = false;
        axis.from = range[0].toDouble(&a);
        axis.to = range[1].toDouble(&b);
        axis.steps = range[2].toInt(&c);
        ok = a && b && c && axis.steps >= 1 && std::isfinite(axis.from) && std::isfinite(axis.to);
    }
    if (!ok)
        throw UsageError(QStringLiteral("--vary \"%1\": expected NAME=FROM:TO:STEPS with numbers "
                                        "FROM and TO and STEPS >= 1")
                             .arg(text));
    return axis;
}

QString csvField(const QString &text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"'))
        && !text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

// One worker process and the cases it holds.
struct Worker
{
    std::unique_ptr<QProcess> process;
    QByteArray pending; // output not yet ending in a line feed
    int inFlight = 0;
};

int run(const QCommandLineParser &parser)
{
    const QString fileName = positional(parser, 1).at(0);
    if (fileName == QLatin1String("-"))
        throw UsageError(QStringLiteral("sweep reads FILE in every worker; give a file, not -"));
    std::vector<Axis> axes;
    for (const QString &text : parser.values(QStringLiteral("vary")))
        axes.push_back(parseAxis(text));
    if (axes.empty())
        throw UsageError(QStringLiteral("give at least one --vary NAME=FROM:TO:STEPS"));
    QStringList reports;
    for (const QString &list : parser.values(QStringLiteral("report")))
        for (const QString &name : list.split(QLatin1Char(',')))
            if (!name.isEmpty())
                reports.append(name);
    if (reports.isEmpty())
        throw UsageError(QStringLiteral("give the values to report with --report NAME[,NAME...]"));
    const QList<std::pair<QString, QString>> sets = setValues(parser);
    int jobs = QThread::idealThreadCount();
    if (parser.isSet(QStringLiteral("jobs"))) {
        bool ok = false;
        jobs = parser.value(QStringLiteral("jobs")).toInt(&ok);
        if (!ok || jobs < 1)
            throw UsageError(QStringLiteral("--jobs: expected a number >= 1"));
    }
    qint64 total = 1;
    for (const Axis &axis : axes) {
        total *= axis.steps;
        if (total > kMaxCases)
            throw UsageError(QStringLiteral("more than %1 cases").arg(kMaxCases));
    }

    // Every name is checked here once, so a worker never meets an unknown one.
    {
        HeadlessProject check;
        check.load(fileName, QStringLiteral("sweep"));
        for (const auto &[name, value] : sets)
            check.set(name, value);
        for (const Axis &axis : axes)
            check.set(axis.name, formatGeneral(axis.from));
        for (const QString &name : reports)
            if (!check.node(name))
                throw Error(
                    QStringLiteral("--report %1: the project has no node of that name").arg(name));
    }

    QStringList header;
    for (const Axis &axis : axes)
        header << csvField(axis.name);
    for (const QString &name : reports)
        header << csvField(name);
    header << QStringLiteral("failedSteps");
    printLine(header.join(QLatin1Char(',')));
    std::fflush(stdout);

    // Case c's value on axis a: the first axis varies slowest.
    const auto caseValues = [&](qint64 c) {
        QStringList values;
        for (size_t a = axes.size(); a-- > 0;) {
            values.prepend(formatGeneral(axes[a].at(static_cast<int>(c % axes[a].steps))));
            c /= axes[a].steps;
        }
        return values;
    };

    QStringList workerArgs{QStringLiteral("sweep-worker"), fileName};
    for (const QString &name : reports)
        workerArgs << QStringLiteral("--report") << name;
    for (const auto &[name, value] : sets)
        workerArgs << QStringLiteral("--set") << name + QLatin1Char('=') + value;
    for (const Axis &axis : axes)
        workerArgs << QStringLiteral("--input") << axis.name;

    jobs = static_cast<int>(std::min<qint64>(jobs, total));
    std::vector<Worker> workers(static_cast<size_t>(jobs));
    qint64 nextCase = 0;
    qint64 nextRow = 0;
    std::map<qint64, QString> done; // finished rows waiting for earlier cases
    QString failure;
    QEventLoop loop;

    const auto fail = [&](const QString &why) {
        if (failure.isEmpty())
            failure = why;
        loop.exit(1);
    };
    const auto feed = [&](Worker &w) {
        while (w.inFlight < kCasesInFlight && nextCase < total) {
            QJsonArray line{static_cast<double>(nextCase)};
            for (const QString &v : caseValues(nextCase))
                line.append(v);
            w.process->write(QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n');
            ++w.inFlight;
            ++nextCase;
        }
        if (nextCase == total && w.inFlight == 0)
            w.process->closeWriteChannel();
    };
    const auto receive = [&](Worker &w) {
        w.pending += w.process->readAllStandardOutput();
        qsizetype end;
        while ((end = w.pending.indexOf('\n')) >= 0) {
            const QByteArray line = w.pending.left(end);
            w.pending.remove(0, end + 1);
            const QJsonArray answer = QJsonDocument::fromJson(line).array();
            if (answer.size() != 3 || !answer[1].isArray()) {
                fail(QStringLiteral("a worker answered \"%1\"").arg(QString::fromUtf8(line)));
                return;
            }
            const qint64 c = static_cast<qint64>(answer[0].toDouble());
            if (answer[2].isString()) {
                fail(QStringLiteral("case %1 (%2): %3")
                         .arg(c + 1)
                         .arg(caseValues(c).join(QStringLiteral(", ")), answer[2].toString()));
                return;
            }
            QStringList row;
            for (const QString &v : caseValues(c))
                row << csvField(v);
            for (const QJsonValue &v : answer[1].toArray())
                row << csvField(v.toString());
            row << QString::number(answer[2].toInt());
            done.emplace(c, row.join(QLatin1Char(',')));
            --w.inFlight;
        }
        for (auto it = done.begin(); it != done.end() && it->first == nextRow;
             it = done.erase(it), ++nextRow)
            printLine(it->second);
        std::fflush(stdout);
        if (nextRow == total)
            loop.exit(0);
        else
            feed(w);
    };

    for (Worker &w : workers) {
        w.process = std::make_unique<QProcess>();
        QProcess *process = w.process.get();
        Worker *self = &w;
        process->setProcessChannelMode(QProcess::SeparateChannels);
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
        process->start(QCoreApplication::applicationFilePath(), workerArgs);
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
    return 0;
}

const bool registered = registerCommand({
    QStringLiteral("sweep"),
    QStringLiteral("Run a project over every combination of input values and print one CSV row "
                   "per case (inputs, reported values, failed steps), spread over the cores."),
    [](QCommandLineParser &parser) {
        addProjectFileArgument(parser);
        parser.addOption(QCommandLineOption(
            QStringLiteral("vary"),
            QStringLiteral("An axis: STEPS values from FROM to TO inclusive typed as NAME; "
                           "repeatable (all combinations, the first axis slowest)."),
            QStringLiteral("NAME=FROM:TO:STEPS")));
        parser.addOption(QCommandLineOption(QStringLiteral("report"),
                                            QStringLiteral("Node values to report, in order."),
                                            QStringLiteral("NAME[,NAME...]")));
        parser.addOption(setOption());
        parser.addOption(
            QCommandLineOption(QStringLiteral("jobs"),
                               QStringLiteral("Worker processes (default: one per core)."),
                               QStringLiteral("N")));
    },
    run,
});

} // namespace
} // namespace tessarin::cli
