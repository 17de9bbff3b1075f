// tessarin-cli exam-save FILE -o OUT: the test-data set of a project's nodes as a .exm file.

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
    TqzExamData set;
    FillExamData(set, *project.TreeView);
    SaveExamDataToFile(set, out);
    return 0;
}

const bool registered = registerCommand({
    QStringLiteral("exam-save"),
    QStringLiteral("Write the values of a project's nodes as a test-data (.exm) file."),
    [](QCommandLineParser &parser) {
        addProjectFileArgument(parser);
        parser.addOption(outputOption(QStringLiteral("The .exm file to write.")));
    },
    run,
});

} // namespace
} // namespace tessarin::cli
