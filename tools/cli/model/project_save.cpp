// tessarin-cli project-save FILE -o OUT: the project part written into a new project document.

#include "command.h"

#include "atomicfile.h"
#include "qzproject.h"

namespace tessarin::cli {
namespace {

const QCommandLineOption outputOption({QStringLiteral("o"), QStringLiteral("output")},
                                      QStringLiteral("The project file to write."),
                                      QStringLiteral("OUT"));

int run(const QCommandLineParser &parser)
{
    const QString file = positional(parser, 1).at(0);
    const QString out = parser.value(outputOption);
    if (out.isEmpty())
        throw UsageError(QStringLiteral("the output file (-o OUT) is missing"));
    TqzProject project;
    LoadProjectFromStream(project, readWholeFile(file), file);
    SaveProjectToFile(project, out);
    return 0;
}

const bool registered = registerCommand({
    QStringLiteral("project-save"),
    QStringLiteral("Load the project part of a project file and write it into a new project "
                   "document (renumbered node IDs)."),
    [](QCommandLineParser &parser) {
        parser.addPositionalArgument(QStringLiteral("FILE"),
                                     QStringLiteral("Project file (.flw), or - for stdin."));
        parser.addOption(outputOption);
    },
    run,
});

} // namespace
} // namespace tessarin::cli
