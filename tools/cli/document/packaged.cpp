// tessarin-cli packaged -o FILE: the project the calculation module delivers, as a project file.

#include "atomicfile.h"
#include "command.h"
#include "error.h"
#include "packagedproject.h"
#include "projectfile.h"
#include "qzworkbook.h"
#include "qzproject.h"

namespace tessarin::cli {
namespace {

int run(const QCommandLineParser &parser)
{
    positional(parser, 0);
    const QString out = requiredOutput(parser, QStringLiteral("FILE"));
    QString why;
    const QByteArray document = LoadPackagedProject(QStringLiteral("calcpack.dll"), &why);
    if (document.isEmpty())
        throw Error(QStringLiteral("packaged: the calculation module delivered no project: %1")
                        .arg(why.isEmpty() ? QStringLiteral("GetFLW wrote nothing") : why));
    // Only a document that loads as a project is written, so a damaged module never leaves a
    // file that looks like a project.
    TqzProject project;
    TqzWorkbook workbook;
    TqzProjectFile().loadBytes(document, QStringLiteral("packaged project"), project, workbook);
    writeFileAtomically(out, document);
    return 0;
}

const bool registered = registerCommand({
    QStringLiteral("packaged"),
    QStringLiteral("Write the project the calculation module (calcpack) delivers through GetFLW "
                   "into FILE, unchanged."),
    [](QCommandLineParser &parser) {
        parser.addOption(
            outputOption(QStringLiteral("Project file to write."), QStringLiteral("FILE")));
    },
    run,
});

} // namespace
} // namespace tessarin::cli
