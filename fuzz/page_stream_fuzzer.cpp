// libFuzzer target for the page-stream reader. For every input: a refused stream must leave the
// page exactly as it was (compared through its own stream), and a page that was read must write
// a stream that reads back.

#include "error.h"
#include "fonts.h"
#include "printerlayer.h"
#include "reportcontrol.h"
#include "reportstream.h"

#include <QApplication>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

using namespace tessarin;

namespace {

TReportControl *makeStartPage()
{
    auto *page = new TReportControl;
    page->messageBoxHook = [](const QString &, const QString &) {};
    page->NewTable(3, 3);
    page->SetCallText(0, 0, QStringLiteral("起始页"));
    return page;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "page_stream_fuzzer";
    static char *argv[] = {name, nullptr};
    new QApplication(argc, argv);
    installFontSubstitutions();
    setPrinterLayer(std::make_unique<FixedPrinterLayer>());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static TReportControl *page = makeStartPage();
    static TReportControl *second = makeStartPage();

    const QByteArray before = savePageStream(*page);
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    try {
        loadPageStream(*page, input);
    } catch (const Error &) {
        if (savePageStream(*page) != before) {
            std::fputs("a refused stream changed the page\n", stderr);
            std::abort();
        }
        return 0;
    }

    try {
        loadPageStream(*second, savePageStream(*page));
    } catch (const Error &e) {
        std::fprintf(stderr, "a written page does not read back: %s\n", e.what());
        std::abort();
    }
    return 0;
}
