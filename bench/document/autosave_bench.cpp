// One autosave of the packaged pump project as the main window takes it on the GUI thread: the
// document with its workbook rewritten from the pages, then the atomic write of the copy and
// its description into a recovery folder. Target: well under 100 ms, so no user notices it.

#include "autosave.h"
#include "packagedproject.h"
#include "programdir.h"
#include "projectfile.h"
#include "qtbench.h"
#include "qzexcel.h"
#include "qzproject.h"

#include <QTemporaryDir>
#include <QWidget>

namespace {

using namespace tessarin;

struct PumpProject
{
    QWidget area;
    TqzExcel excel{&area};
    TqzProject project;
    TqzProjectFile file;
    PumpProject()
    {
        file.loadBytes(LoadPackagedProject(), QStringLiteral("packaged"), project, excel.workbook());
    }
};

void BM_DocumentBytes(benchmark::State &state)
{
    PumpProject pump;
    qint64 bytes = 0;
    for (auto _ : state)
        bytes = pump.file.documentBytes(pump.excel.workbook()).size();
    state.counters["bytes"] = double(bytes);
}
BENCHMARK(BM_DocumentBytes)->Unit(benchmark::kMillisecond);

void BM_Autosave(benchmark::State &state)
{
    PumpProject pump;
    QTemporaryDir dir;
    TRecoveryStore store(dir.path());
    const QString key = store.newKey();
    for (auto _ : state)
        store.write(key, pump.file.documentBytes(pump.excel.workbook()), QString(), QStringLiteral("pump"));
}
BENCHMARK(BM_Autosave)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    return tessarin::bench::runQtBenchmarks(
        argc, argv, [] { setProgramDirectory(QStringLiteral(TESSARIN_BIN_DIR)); });
}
