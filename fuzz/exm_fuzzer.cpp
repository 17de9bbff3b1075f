// libFuzzer target for the test-data (.exm) reader. For every input: a refused document must
// leave the set exactly as it was, and a set that was read must write a document that reads
// back into an equal set and writes the same bytes again.

#include "error.h"
#include "examfile.h"
#include "qzobject.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

using namespace tessarin;

namespace {

// A set with entries and texts of its own, so a refused document that touched any of it shows.
std::unique_ptr<TqzExamData> makeStartSet()
{
    auto set = std::make_unique<TqzExamData>();
    set->Name = QStringLiteral("起始");
    set->Author = QStringLiteral("fuzz");
    set->CreateTime = QStringLiteral("2026-12-07 - 08:00:00");
    set->Remark = QStringLiteral("before");
    set->AddNodeData(QStringLiteral("流量"), QStringLiteral("50.0"));
    set->AddNodeData(QStringLiteral("H"), QString());
    return set;
}

// Everything a set holds, in order, as one list: equal sets give equal lists.
QStringList contents(const TqzExamData &set)
{
    QStringList out{set.Name, set.Author, set.CreateTime, set.Remark};
    for (const auto &entry : set.NodeDatas)
        out << entry->Name << entry->Value;
    return out;
}

// Characters outside printable ASCII shown as \u{hex}: texts that print alike show their
// difference.
std::string visible(const QString &text)
{
    std::string out;
    for (const QChar ch : text) {
        if (ch.unicode() >= 0x20 && ch.unicode() < 0x7f)
            out += char(ch.unicode());
        else
            out += "\\u{" + QString::number(ch.unicode(), 16).toStdString() + "}";
    }
    return out;
}

[[noreturn]] void fail(const char *what, const QStringList &a, const QStringList &b)
{
    std::fprintf(stderr, "%s\n", what);
    for (qsizetype i = 0; i < std::max(a.size(), b.size()); ++i) {
        const QString x = a.value(i, QStringLiteral("(none)"));
        const QString y = b.value(i, QStringLiteral("(none)"));
        if (x != y)
            std::fprintf(stderr,
                         "  item %lld: %s -> %s\n",
                         static_cast<long long>(i),
                         visible(x).c_str(),
                         visible(y).c_str());
    }
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    static int argc = 1;
    static char name[] = "exm_fuzzer";
    static char *argv[] = {name, nullptr};
    new QCoreApplication(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::unique_ptr<TqzExamData> set = makeStartSet();
    const QStringList before = contents(*set);
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    try {
        LoadExamDataFromBytes(*set, input, QStringLiteral("input"));
    } catch (const Error &) {
        if (contents(*set) != before)
            fail("a refused document changed the set", before, contents(*set));
        return 0;
    }

    const QByteArray written = ExamDataToBytes(*set);
    const std::unique_ptr<TqzExamData> again = makeStartSet();
    try {
        LoadExamDataFromBytes(*again, written, QStringLiteral("written"));
    } catch (const Error &e) {
        std::fprintf(stderr, "a written set does not read back: %s\n", e.what());
        std::abort();
    }
    if (contents(*again) != contents(*set))
        fail("a written set reads back different", contents(*set), contents(*again));
    if (ExamDataToBytes(*again) != written)
        fail("a written set writes different bytes the second time",
             contents(*set),
             contents(*again));
    return 0;
}
