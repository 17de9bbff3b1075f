// tessarin-cli project-save FILE -o OUT: the project part written into a new project document.

#include "command.h"

#include "qzproject.h"

namespace tessarin::cli {
namespace {

int run(const QCommandLineParser &parser)
{
    const QString file = positional(parser, 1).at(0);
    const QString out = requiredOutput(parser);
    TqzProject project;
    LoadProjectFromFile(project, file);
    SaveProjectToFile(project, out);
    return 0;
}

const bool registered = registerCommand({
    QStringLiteral("project-save"),
    QStringLiteral("Load the project part of a project file and write it into a new project "
                   "document (renumbered node IDs)."),
    [](QCommandLineParser &parser) {
        addProjectFileArgument(parser);
        parser.addOption(outputOption(QStringLiteral("The project file to write.")));
    },
    run,
});

} // namespace
} // namespace tessarin::cli
