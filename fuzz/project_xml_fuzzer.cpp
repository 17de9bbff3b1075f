// libFuzzer target for the project reader with its node tree. For every input: a refused
// document must leave the project exactly as it was (compared through what it writes), and a
// project that loaded must write a document that loads back and writes the same bytes again.

#include "error.h"
#include "qzproject.h"

#include <QCoreApplication>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

using namespace tessarin;

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    static int argc = 1;
    static char name[] = "project_xml_fuzzer";
    static char *argv[] = {name, nullptr};
    new QCoreApplication(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static TqzProject *project = new TqzProject;

    const QByteArray before = SaveProjectToBytes(*project);
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    try {
        LoadProjectFromStream(*project, input, QStringLiteral("input"));
    } catch (const Error &) {
        if (SaveProjectToBytes(*project) != before) {
            std::fputs("a refused document changed the project\n", stderr);
            std::abort();
        }
        return 0;
    }

    // Every node reachable by name, as the run looks nodes up.
    for (int i = 0; i < project->TreeView->count(); ++i)
        project->FindNodeByName(project->TreeView->nodeAt(i)->Name);

    const QByteArray written = SaveProjectToBytes(*project);
    TqzProject again;
    try {
        LoadProjectFromStream(again, written, QStringLiteral("written"));
    } catch (const Error &e) {
        std::fprintf(stderr, "a written project does not read back: %s\n", e.what());
        std::abort();
    }
    if (SaveProjectToBytes(again) != written) {
        std::fputs("a written project reads back different\n", stderr);
        std::abort();
    }
    return 0;
}
