// tessarin-cli workbook-dump FILE: the tabs and pages of a project file's workbook as JSON.

#include "command.h"
#include "workbookfile.h"

#include "reportstream.h"

#include <QJsonArray>
#include <QJsonObject>

namespace tessarin::cli {
namespace {

int run(const QCommandLineParser &parser)
{
    const QString file = positional(parser, 1).at(0);
    const auto loaded = loadWorkbook(file, QStringLiteral("workbook-dump"));
    const TqzWorkbook &workbook = loaded->workbook;
    QJsonArray tabs;
    for (const QString &name : workbook.PageNames)
        tabs.append(name);
    // One page at a time: the dump of every page at once takes many times the file's size.
    printJsonStreamed(
        QJsonObject{{QStringLiteral("tabs"), tabs}},
        {{QStringLiteral("pages"), workbook.pageCount(), [&](qsizetype i) {
              const TqzReportPage *page = workbook.page(static_cast<int>(i));
              return QJsonValue(QJsonObject{
                  {QStringLiteral("ownerIndex"), page->OwnerIndex},
                  {QStringLiteral("page"), pageDumpJson(*page, page->loadedStreamVersion())}});
          }}});
    return 0;
}

const bool registered = registerCommand({
    QStringLiteral("workbook-dump"),
    QStringLiteral("Load the workbook of a project file and print its tabs and pages as JSON."),
    [](QCommandLineParser &parser) { addProjectFileArgument(parser); },
    run,
});

} // namespace
} // namespace tessarin::cli
