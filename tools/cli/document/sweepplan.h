#pragma once

// The case list of a sweep, shared by "sweep", its worker processes and "sweep-merge": a grid of
// axes or Monte Carlo samples, what to report and how rows are written. Case c's input values
// follow from the arguments and c alone, so any process computes any case's inputs.

#include "command.h"
#include "csvfield.h"
#include "numbertext.h"

#include <QCommandLineParser>
#include <QSet>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace tessarin::cli {

inline constexpr qint64 kMaxSweepCases = 1'000'000'000;

// One grid axis: `steps` values from `from` to `to`, both ends included.
struct SweepAxis
{
    QString name;
    double from = 0;
    double to = 0;
    qint64 steps = 1;
    double at(qint64 k) const
    {
        if (steps == 1 || k == 0)
            return from;
        if (k == steps - 1)
            return to;
        const double span = to - from;
        if (std::isfinite(span))
            return from + span * static_cast<double>(k) / static_cast<double>(steps - 1);
        // The span overflows (-1e308 to 1e308): weigh the ends instead.
        const double t = static_cast<double>(k) / static_cast<double>(steps - 1);
        return from * (1 - t) + to * t;
    }
};

// One sampled input.
struct SweepSample
{
    enum Kind { Normal, Uniform, Triangular, Lognormal } kind = Normal;
    QString name;
    double a = 0;
    double b = 0;
    double c = 0;
};

// A counter-based generator: the k-th uniform number in (0, 1) of case `index` under `seed`,
// the same whichever process draws it and in whatever order.
inline double sweepUniform(quint64 seed, quint64 index, quint64 k)
{
    const auto mix = [](quint64 z) {
        z += 0x9E3779B97F4A7C15ull;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    };
    const quint64 h = mix(mix(mix(seed) ^ index) ^ (k * 0xD1B54A32D192ED03ull));
    return (static_cast<double>(h >> 11) + 0.5) * 0x1.0p-53;
}

struct SweepPlan
{
    QString fileName;
    std::vector<SweepAxis> axes;
    std::vector<SweepSample> samples;
    quint64 seed = 0;
    qint64 total = 1;
    QStringList reports;
    QList<std::pair<QString, QString>> sets;
    bool jsonl = false;
    bool summary = false;
    bool sharded = false; // --shard given: rows carry their case index
    int shard = 1;
    int shards = 1;
    qint64 first = 0; // this shard's cases: [first, end)
    qint64 end = 0;

    QStringList inputNames() const
    {
        QStringList names;
        for (const SweepAxis &a : axes)
            names << a.name;
        for (const SweepSample &s : samples)
            names << s.name;
        return names;
    }

    // Case c's input values as typed: the first axis varies slowest.
    QStringList caseValues(qint64 c) const
    {
        QStringList values;
        if (!axes.empty()) {
            for (size_t a = axes.size(); a-- > 0;) {
                values.prepend(formatGeneral(axes[a].at(c % axes[a].steps)));
                c /= axes[a].steps;
            }
            return values;
        }
        const quint64 index = static_cast<quint64>(c);
        for (size_t k = 0; k < samples.size(); ++k) {
            const SweepSample &s = samples[k];
            const double u = sweepUniform(seed, index, 2 * k);
            double x = 0;
            if (s.kind == SweepSample::Uniform) {
                x = s.a + (s.b - s.a) * u;
            } else if (s.kind == SweepSample::Triangular) {
                const double span = s.c - s.a;
                const double cut = (s.b - s.a) / span;
                x = u < cut ? s.a + std::sqrt(u * span * (s.b - s.a))
                            : s.c - std::sqrt((1 - u) * span * (s.c - s.b));
            } else {
                const double v = sweepUniform(seed, index, 2 * k + 1);
                const double z = std::sqrt(-2 * std::log(u)) * std::cos(6.283185307179586 * v);
                x = s.kind == SweepSample::Normal ? s.a + s.b * z : std::exp(s.a + s.b * z);
            }
            values << formatGeneral(x);
        }
        return values;
    }
};

namespace sweepdetail {

inline double number(const QString &text, const QString &argument, const QString &what)
{
    bool ok = false;
    const double v = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(v))
        throw UsageError(
            QStringLiteral("%1: %2 \"%3\" is not a finite number").arg(argument, what, text));
    return v;
}

inline SweepAxis parseAxis(const QString &text)
{
    const QString argument = QStringLiteral("--vary \"%1\"").arg(text);
    const qsizetype eq = text.lastIndexOf(QLatin1Char('='));
    const QStringList range = eq > 0 ? text.mid(eq + 1).split(QLatin1Char(':')) : QStringList();
    if (range.size() != 3)
        throw UsageError(argument + QStringLiteral(": expected NAME=FROM:TO:STEPS"));
    SweepAxis axis;
    axis.name = text.left(eq);
    axis.from = number(range[0], argument, QStringLiteral("FROM"));
    axis.to = number(range[1], argument, QStringLiteral("TO"));
    bool ok = false;
    axis.steps = range[2].toLongLong(&ok);
    if (!ok || axis.steps < 1)
        throw UsageError(argument + QStringLiteral(": STEPS must be a whole number >= 1"));
    if (axis.steps > kMaxSweepCases)
        throw UsageError(argument + QStringLiteral(": more than %1 steps").arg(kMaxSweepCases));
    return axis;
}

inline SweepSample parseSample(const QString &text)
{
    const QString argument = QStringLiteral("--sample \"%1\"").arg(text);
    const qsizetype eq = text.lastIndexOf(QLatin1Char('='));
    const QStringList parts = eq > 0 ? text.mid(eq + 1).split(QLatin1Char(':')) : QStringList();
    SweepSample s;
    s.name = text.left(eq);
    const QString kind = parts.value(0);
    if (eq <= 0 || parts.size() < 3)
        throw UsageError(argument
                         + QStringLiteral(": expected NAME=normal:MEAN:SD, uniform:LO:HI, "
                                          "triangular:LO:MODE:HI or lognormal:MU:SIGMA"));
    if (kind == QLatin1String("normal"))
        s.kind = SweepSample::Normal;
    else if (kind == QLatin1String("uniform"))
        s.kind = SweepSample::Uniform;
    else if (kind == QLatin1String("triangular"))
        s.kind = SweepSample::Triangular;
    else if (kind == QLatin1String("lognormal"))
        s.kind = SweepSample::Lognormal;
    else
        throw UsageError(argument + QStringLiteral(": unknown distribution \"%1\"").arg(kind));
    const int wanted = s.kind == SweepSample::Triangular ? 4 : 3;
    if (parts.size() != wanted)
        throw UsageError(argument
                         + QStringLiteral(": %1 takes %2 parameters").arg(kind).arg(wanted - 1));
    s.a = number(parts[1], argument, QStringLiteral("the first parameter"));
    s.b = number(parts[2], argument, QStringLiteral("the second parameter"));
    if (wanted == 4)
        s.c = number(parts[3], argument, QStringLiteral("the third parameter"));
    QString why;
    switch (s.kind) {
    case SweepSample::Normal:
        if (!(s.b > 0))
            why = QStringLiteral("SD must be > 0");
        else if (!std::isfinite(std::fabs(s.a) + 40 * s.b))
            why = QStringLiteral("MEAN and SD give values beyond the range of numbers");
        break;
    case SweepSample::Uniform:
        if (!(s.a < s.b) || !std::isfinite(s.b - s.a))
            why = QStringLiteral("LO must be below HI");
        break;
    case SweepSample::Triangular:
        if (!(s.a < s.c) || s.b < s.a || s.b > s.c || !std::isfinite(s.c - s.a))
            why = QStringLiteral("expected LO <= MODE <= HI with LO < HI");
        break;
    case SweepSample::Lognormal:
        if (!(s.b > 0))
            why = QStringLiteral("SIGMA must be > 0");
        else if (std::fabs(s.a) + 40 * s.b > 700)
            why = QStringLiteral("MU and SIGMA give values beyond the range of numbers");
        break;
    }
    if (!why.isEmpty())
        throw UsageError(argument + QStringLiteral(": ") + why);
    return s;
}

} // namespace sweepdetail

// Declares the options of a sweep (also those of its workers).
inline void addSweepOptions(QCommandLineParser &parser)
{
    const auto add = [&](const char *name, const char *help, const char *value) {
        parser.addOption(QCommandLineOption(
            QString::fromLatin1(name), QString::fromUtf8(help), QString::fromLatin1(value)));
    };
    add("vary",
        "An axis: STEPS values from FROM to TO inclusive typed as NAME; repeatable (all "
        "combinations, the first axis slowest).",
        "NAME=FROM:TO:STEPS");
    add("sample",
        "A sampled input for Monte Carlo: normal:MEAN:SD, uniform:LO:HI, "
        "triangular:LO:MODE:HI or lognormal:MU:SIGMA; repeatable.",
        "NAME=DIST");
    add("cases", "Monte Carlo: the number of cases.", "N");
    add("seed",
        "Monte Carlo: the seed (default 1); the same seed gives the same numbers on any "
        "number of workers.",
        "S");
    add("report", "Node values to report, in order.", "NAME[,NAME...]");
    parser.addOption(QCommandLineOption(
        QStringLiteral("set"),
        QStringLiteral("Type VALUE into the cells tagged NAME (into the nodes named NAME when no "
                       "cell is) for every case; repeatable."),
        QStringLiteral("NAME=VALUE")));
    add("format", "Rows as csv (default) or jsonl.", "csv|jsonl");
    add("shard",
        "Run only the K-th of N equal slices of the case list; every row then starts "
        "with its global case index.",
        "K/N");
    parser.addOption(QCommandLineOption(
        QStringLiteral("summary"),
        QStringLiteral("Instead of the rows, print for each reported value the mean, standard "
                       "deviation, 5th/50th/95th percentiles and the share of failed cases. With "
                       "--shard the slice prints its rows as JSON lines for sweep-merge "
                       "--summary.")));
}

// The plan from the parsed arguments; UsageError naming the argument for anything wrong.
inline SweepPlan parseSweepPlan(const QCommandLineParser &parser)
{
    SweepPlan plan;
    plan.fileName = positional(parser, 1).at(0);
    QSet<QString> seen;
    const auto unique = [&](const QString &name, const QString &option) {
        if (name.isEmpty())
            throw UsageError(QStringLiteral("%1: the name is empty").arg(option));
        if (seen.contains(name))
            throw UsageError(
                QStringLiteral("%1 %2: the name is varied or sampled twice").arg(option, name));
        seen.insert(name);
    };
    for (const QString &text : parser.values(QStringLiteral("vary"))) {
        plan.axes.push_back(sweepdetail::parseAxis(text));
        unique(plan.axes.back().name, QStringLiteral("--vary"));
    }
    for (const QString &text : parser.values(QStringLiteral("sample"))) {
        plan.samples.push_back(sweepdetail::parseSample(text));
        unique(plan.samples.back().name, QStringLiteral("--sample"));
    }
    if (plan.axes.empty() && plan.samples.empty())
        throw UsageError(QStringLiteral("give at least one --vary NAME=FROM:TO:STEPS or --sample "
                                        "NAME=DIST"));
    if (!plan.axes.empty() && !plan.samples.empty())
        throw UsageError(QStringLiteral("--vary and --sample exclude each other"));
    if (!plan.samples.empty()) {
        if (!parser.isSet(QStringLiteral("cases")))
            throw UsageError(QStringLiteral("--sample needs --cases N"));
        bool ok = false;
        plan.total = parser.value(QStringLiteral("cases")).toLongLong(&ok);
        if (!ok || plan.total < 1 || plan.total > kMaxSweepCases)
            throw UsageError(QStringLiteral("--cases \"%1\": expected a whole number from 1 to %2")
                                 .arg(parser.value(QStringLiteral("cases")))
                                 .arg(kMaxSweepCases));
        plan.seed = 1;
        if (parser.isSet(QStringLiteral("seed"))) {
            plan.seed = parser.value(QStringLiteral("seed")).toULongLong(&ok);
            if (!ok)
                throw UsageError(QStringLiteral("--seed \"%1\": expected a whole number >= 0")
                                     .arg(parser.value(QStringLiteral("seed"))));
        }
    } else {
        if (parser.isSet(QStringLiteral("cases")) || parser.isSet(QStringLiteral("seed")))
            throw UsageError(QStringLiteral("--cases and --seed go with --sample"));
        for (const SweepAxis &axis : plan.axes) {
            if (plan.total > kMaxSweepCases / axis.steps)
                throw UsageError(QStringLiteral("--vary: more than %1 cases").arg(kMaxSweepCases));
            plan.total *= axis.steps;
        }
    }
    for (const QString &list : parser.values(QStringLiteral("report")))
        for (const QString &name : list.split(QLatin1Char(',')))
            if (!name.isEmpty())
                plan.reports.append(name);
    if (plan.reports.isEmpty())
        throw UsageError(QStringLiteral("give the values to report with --report NAME[,NAME...]"));
    if (plan.reports.removeDuplicates() > 0)
        throw UsageError(QStringLiteral("--report: a name is given twice"));
    for (const QString &item : parser.values(QStringLiteral("set"))) {
        const qsizetype eq = item.indexOf(QLatin1Char('='));
        if (eq <= 0)
            throw UsageError(QStringLiteral("--set \"%1\": expected NAME=VALUE").arg(item));
        plan.sets.append({item.left(eq), item.mid(eq + 1)});
    }
    const QString format = parser.value(QStringLiteral("format"));
    if (parser.isSet(QStringLiteral("format")) && format != QLatin1String("csv")
        && format != QLatin1String("jsonl"))
        throw UsageError(QStringLiteral("--format \"%1\": expected csv or jsonl").arg(format));
    plan.jsonl = format == QLatin1String("jsonl");
    plan.summary = parser.isSet(QStringLiteral("summary"));
    if (plan.summary && plan.samples.empty())
        throw UsageError(QStringLiteral("--summary goes with --sample"));
    if (parser.isSet(QStringLiteral("shard"))) {
        const QString text = parser.value(QStringLiteral("shard"));
        const QStringList kn = text.split(QLatin1Char('/'));
        bool a = false;
        bool b = false;
        plan.shard = kn.value(0).toInt(&a);
        plan.shards = kn.value(1).toInt(&b);
        if (kn.size() != 2 || !a || !b || plan.shards < 1 || plan.shard < 1
            || plan.shard > plan.shards)
            throw UsageError(
                QStringLiteral("--shard \"%1\": expected K/N with 1 <= K <= N").arg(text));
        plan.sharded = true;
        if (plan.summary)
            plan.jsonl = true; // the slice's rows, for an exact merge
    }
    const auto bound = [&](int k) {
        return static_cast<qint64>(static_cast<unsigned __int128>(plan.total)
                                   * static_cast<unsigned>(k) / static_cast<unsigned>(plan.shards));
    };
    plan.first = bound(plan.shard - 1);
    plan.end = bound(plan.shard);
    return plan;
}

// A JSON string literal.
inline QString jsonString(const QString &text)
{
    QString out = QStringLiteral("\"");
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if (u == u'"' || u == u'\\')
            out += QLatin1Char('\\') + c;
        else if (u < 0x20)
            out += QStringLiteral("\\u%1").arg(int(u), 4, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out + QLatin1Char('"');
}

// The summary of one reported value over all cases, in case order: failed cases are NaN.
struct SweepSummary
{
    qint64 cases = 0;
    qint64 failed = 0;
    double mean = 0;
    double sd = 0;
    double p5 = 0;
    double p50 = 0;
    double p95 = 0;
};

inline SweepSummary summarise(std::vector<double> values)
{
    SweepSummary s;
    s.cases = static_cast<qint64>(values.size());
    double sum = 0;
    std::vector<double> ok;
    ok.reserve(values.size());
    for (double v : values)
        if (!std::isnan(v)) {
            ok.push_back(v);
            sum += v;
        }
    s.failed = s.cases - static_cast<qint64>(ok.size());
    if (ok.empty())
        return s;
    const double n = static_cast<double>(ok.size());
    s.mean = sum / n;
    double squares = 0;
    for (double v : ok)
        squares += (v - s.mean) * (v - s.mean);
    s.sd = ok.size() > 1 ? std::sqrt(squares / (n - 1)) : 0.0;
    std::sort(ok.begin(), ok.end());
    // Linear between the closest ranks: rank (n - 1) q.
    const auto at = [&](double q) {
        const double h = (n - 1) * q;
        const size_t lo = static_cast<size_t>(std::floor(h));
        const size_t hi = std::min(lo + 1, ok.size() - 1);
        return ok[lo] + (h - static_cast<double>(lo)) * (ok[hi] - ok[lo]);
    };
    s.p5 = at(0.05);
    s.p50 = at(0.5);
    s.p95 = at(0.95);
    return s;
}

// The summary lines of every reported value: CSV with a header, or one JSON object each.
inline QStringList
summaryLines(const QStringList &names, const std::vector<std::vector<double>> &values, bool jsonl)
{
    QStringList lines;
    if (!jsonl)
        lines << QStringLiteral("value,cases,mean,sd,p5,p50,p95,failedShare");
    for (size_t k = 0; k < values.size(); ++k) {
        const SweepSummary s = summarise(values[k]);
        const bool any = s.failed < s.cases;
        const auto num = [&](double v) {
            return any ? formatGeneral(v) : (jsonl ? QStringLiteral("null") : QString());
        };
        const QString share = formatGeneral(s.cases ? double(s.failed) / double(s.cases) : 0.0);
        if (jsonl)
            lines << QStringLiteral("{\"value\":%1,\"cases\":%2,\"mean\":%3,\"sd\":%4,\"p5\":%5,"
                                    "\"p50\":%6,\"p95\":%7,\"failedShare\":%8}")
                         .arg(jsonString(names[qsizetype(k)]))
                         .arg(s.cases)
                         .arg(num(s.mean), num(s.sd), num(s.p5), num(s.p50), num(s.p95), share);
        else
            lines << QStringList{csvField(names[qsizetype(k)]),
                                 QString::number(s.cases),
                                 num(s.mean),
                                 num(s.sd),
                                 num(s.p5),
                                 num(s.p50),
                                 num(s.p95),
                                 share}
                         .join(QLatin1Char(','));
    }
    return lines;
}

} // namespace tessarin::cli

namespace tessarin::cli {

// The row of one case: CSV fields or one JSON object.
inline QString sweepRow(const SweepPlan &plan,
                        qint64 index,
                        const QStringList &inputs,
                        const QStringList &values,
                        int failedSteps)
{
    QString row;
    if (plan.jsonl) {
        row = plan.sharded ? QStringLiteral("{\"case\":%1,\"cases\":%2,\"inputs\":{")
                                 .arg(index)
                                 .arg(plan.total)
                           : QStringLiteral("{\"case\":%1,\"inputs\":{").arg(index);
        const QStringList names = plan.inputNames();
        for (qsizetype k = 0; k < inputs.size(); ++k)
            row += (k ? QStringLiteral(",") : QString()) + jsonString(names[k]) + QLatin1Char(':')
                   + jsonString(inputs[k]);
        row += QStringLiteral("},\"values\":{");
        for (qsizetype k = 0; k < values.size(); ++k)
            row += (k ? QStringLiteral(",") : QString()) + jsonString(plan.reports[k])
                   + QLatin1Char(':') + jsonString(values[k]);
        return row + QStringLiteral("},\"failedSteps\":%1}").arg(failedSteps);
    }
    if (plan.sharded)
        row = QString::number(index) + QLatin1Char(',');
    for (const QString &v : inputs)
        row += csvField(v) + QLatin1Char(',');
    for (const QString &v : values)
        row += csvField(v) + QLatin1Char(',');
    return row + QString::number(failedSteps);
}

// The CSV header line (none for JSON lines).
inline QString sweepHeader(const SweepPlan &plan)
{
    QStringList header;
    if (plan.sharded)
        header << QStringLiteral("case/%1").arg(plan.total); // the index among that many cases
    for (const QString &name : plan.inputNames())
        header << csvField(name);
    for (const QString &name : plan.reports)
        header << csvField(name);
    header << QStringLiteral("failedSteps");
    return header.join(QLatin1Char(','));
}

} // namespace tessarin::cli
