// tessarin-cli exam-save FILE -o OUT: the test-data set of a project's nodes as a .exm file.

#include "command.h"

#include "atomicfile.h"
#include "qzproject.h"

namespace tessarin::cli {
namespace {

const QCommandLineOption outputOption({QStringLiteral("o"), QStringLiteral("output")},
                                      QStringLiteral("The .exm file to write."),
                                      QStringLiteral("OUT"));

int run(const QCommandLineParser &parser)
{
    const QString file = positional(parser, 1).at(0);
    const QString out = parser.value(outputOption);
    if (out.isEmpty())
        throw UsageError(QStringLiteral("the output file (-o OUT) is missing"));
    TqzProject project;
    LoadProjectFromStream(project, readWholeFile(file), file);
    TqzExamData set;
    FillExamData(set, *project.TreeView);
    SaveExamDataToFile(set, out);
    return 0;
}

const bool registered = registerCommand({
    QStringLiteral("exam-save"),
    QStringLiteral("Write the values of a project's nodes as a test-data (.exm) file."),
    [](QCommandLineParser &parser) {
        parser.addPositionalArgument(QStringLiteral("FILE"),
                                     QStringLiteral("Project file (.flw), or - for stdin."));
        parser.addOption(outputOption);
    },
    run,
});

} // namespace
} // namespace tessarin::cli
