// libFuzzer target for the workbook element of a project document with its Base64 pages. For
// every input: a refused document leaves the workbook as it was; a workbook that loaded is saved
// into the same document, and what is saved loads back into the same pages, tabs and stored
// texts, reporting the same pages as not loaded.

#include "error.h"
#include "fonts.h"
#include "qzworkbook.h"

#include <QDomDocument>
#include <QGuiApplication>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

using namespace tessarin;

namespace {

// Everything a save writes for the workbook, in a form that compares (a page that cannot be
// written, say a text too long for the format, shows as the refusal).
QStringList state(const TqzWorkbook &workbook)
{
    QStringList out = workbook.PageNames;
    out.append(QStringLiteral("--"));
    QDomDocument doc;
    QDomElement element = doc.createElement(QStringLiteral("TqzExcel"));
    doc.appendChild(element);
    try {
        workbook.SaveToXML(element);
    } catch (const Error &e) {
        out.append(e.message());
        return out;
    }
    for (QDomElement c = element.firstChildElement(); !c.isNull(); c = c.nextSiblingElement())
        out.append(c.attribute(QStringLiteral("SaveText")) + QLatin1Char('/')
                   + c.attribute(QStringLiteral("OwnerIndex")));
    return out;
}

[[noreturn]] void fail(const char *what, const QString &detail = {})
{
    std::fprintf(stderr, "%s %s\n", what, detail.toUtf8().constData());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "workbook_fuzzer";
    static char *argv[] = {name, nullptr};
    new QGuiApplication(argc, argv);
    installFontSubstitutions();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static TqzWorkbook *workbook = [] {
        auto *w = new TqzWorkbook;
        w->AddPage();
        return w;
    }();

    const QStringList before = state(*workbook);
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    try {
        workbook->LoadFromStream(input, QStringLiteral("input"));
    } catch (const Error &) {
        if (state(*workbook) != before)
            fail("a refused document changed the workbook");
        return 0;
    }

    QByteArray saved;
    try {
        saved = workbook->SaveIntoDocument(input, QStringLiteral("input"));
    } catch (const Error &) {
        return 0; // not a project document, or a page that cannot be written: refused
    }
    const QStringList loaded = state(*workbook);
    TqzWorkbook again;
    try {
        again.LoadFromStream(saved, QStringLiteral("saved"));
    } catch (const Error &e) {
        fail("a saved document does not read back:", e.message());
    }
    if (state(again) != loaded)
        fail("a saved workbook reads back different");
    if (again.loadErrors().size() != workbook->loadErrors().size())
        fail("a saved workbook reports other pages as not loaded");
    return 0;
}
