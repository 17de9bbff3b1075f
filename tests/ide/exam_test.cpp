// The test-data commands: numbered files in the exam folder, and loading a set back into the
// nodes and the tagged cells all or nothing.

#include "examcommands.h"
#include "examfile.h"
#include "ide_support.h"
#include "programdir.h"

#include "atomicfile.h"
#include "error.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

using namespace tessarin;
using namespace tessarin::test;

namespace {

// Points the program directory at a fresh folder for the lifetime of the guard.
struct ScratchProgramDir
{
    QTemporaryDir dir;
    QString previous = programDirectory();
    ScratchProgramDir() { setProgramDirectory(dir.path()); }
    ~ScratchProgramDir() { setProgramDirectory(previous); }
    QString exam(int n) const { return dir.path() + QStringLiteral("/exam/VOK%1.exm").arg(n); }
};

void touch(const QString &file)
{
    QFile out(file);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write("x");
}

TEST(ExamSave, WritesTheLowestFreeNumberAndReplacesTheLast)
{
    ScratchProgramDir scratch;
    RunFixture f;
    f.setNodes({{0, "泵", "", "1"}, {1, "Q", "", "50"}, {1, "泵", "", "2"}, {1, "q", "", "3"}});

    EXPECT_EQ(SaveExamData(f.project, f.host), scratch.exam(1));
    TqzExamData set;
    LoadExamDataFromFile(set, scratch.exam(1));
    EXPECT_EQ(set.Name, "泵");
    QStringList entries;
    for (const auto &e : set.NodeDatas)
        entries << e->Name + '=' + e->Value;
    EXPECT_EQ(entries, (QStringList{"泵=1", "Q=50", "q=3"}));

    touch(scratch.exam(3));
    EXPECT_EQ(SaveExamData(f.project, f.host), scratch.exam(2));
    EXPECT_EQ(SaveExamData(f.project, f.host), scratch.exam(4));

    for (int n = 5; n <= 1000; ++n)
        touch(scratch.exam(n));
    EXPECT_EQ(SaveExamData(f.project, f.host), scratch.exam(1000));
    EXPECT_NE(readWholeFile(scratch.exam(1000)), QByteArray("x"));
    EXPECT_FALSE(QFile::exists(scratch.exam(1001)));
    EXPECT_TRUE(f.host.log.isEmpty());
}

TEST(ExamSave, GoesToTheUserDataFolderWhenTheProgramFolderCannotBeWritten)
{
    // No file can be made in /proc, not even by the superuser.
    const QString previous = programDirectory();
    setProgramDirectory(QStringLiteral("/proc/self"));
    QStandardPaths::setTestModeEnabled(true);
    const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QDir(data + QStringLiteral("/exam")).removeRecursively();
    RunFixture f;
    f.setNodes({{0, "泵", "", "1"}});
    const QString written = SaveExamData(f.project, f.host);
    setProgramDirectory(previous);
    QStandardPaths::setTestModeEnabled(false);

    EXPECT_EQ(written, data + QStringLiteral("/exam/VOK1.exm"));
    EXPECT_TRUE(QFile::exists(written));
    EXPECT_EQ(f.host.log,
              QStringList{QStringLiteral("程序文件夹不可写，测试数据保存在 ")
                          + QDir::toNativeSeparators(data + "/exam")});
    QDir(data + QStringLiteral("/exam")).removeRecursively();
}

// Saves running at once in separate processes each get their own number, the folder made by
// whichever comes first; an entry already there (a link pointing anywhere, a folder) keeps its
// number and is never written through.
TEST(ExamSave, ConcurrentSavesEachClaimTheirOwnNumberAndNeverFollowLinks)
{
    ScratchProgramDir scratch;
    RunFixture f;
    f.setNodes({{0, "泵", "", "1"}, {1, "Q", "", "50"}});
    constexpr int kSavers = 6;
    int gate[2];
    ASSERT_EQ(::pipe(gate), 0);
    std::vector<pid_t> savers;
    for (int k = 0; k < kSavers; ++k) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            char go;
            ::close(gate[1]);
            const bool opened = ::read(gate[0], &go, 1) == 0; // all start when the gate closes
            try {
                ::_exit(opened && !SaveExamData(f.project, f.host).isEmpty() ? 0 : 1);
            } catch (...) {
                ::_exit(2);
            }
        }
        savers.push_back(pid);
    }
    ::close(gate[0]);
    ::close(gate[1]);
    for (pid_t pid : savers) {
        int status = -1;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    for (int n = 1; n <= kSavers; ++n) {
        TqzExamData set;
        EXPECT_NO_THROW(LoadExamDataFromFile(set, scratch.exam(n))) << n;
        EXPECT_EQ(set.NodeDatas.size(), 2u) << n;
    }
    EXPECT_FALSE(QFile::exists(scratch.exam(kSavers + 1)));

    // Entries in the way of the next numbers: a dangling link out of the folder, a link to a
    // file, a folder. The save passes them all.
    const QString outside = scratch.dir.path() + "/outside";
    writeFileAtomically(outside + "-file", "kept");
    ASSERT_TRUE(QFile::link(outside, scratch.exam(kSavers + 1)));
    ASSERT_TRUE(QFile::link(outside + "-file", scratch.exam(kSavers + 2)));
    ASSERT_TRUE(QDir().mkdir(scratch.exam(kSavers + 3)));
    EXPECT_EQ(SaveExamData(f.project, f.host), scratch.exam(kSavers + 4));
    EXPECT_FALSE(QFile::exists(outside));
    EXPECT_EQ(readWholeFile(outside + "-file"), QByteArray("kept"));
    EXPECT_EQ(QDir(scratch.dir.path() + "/exam").entryList(QDir::Hidden | QDir::Files).size(),
              kSavers + 2)
        << "the saved files and the link to a file; no temporary file stays behind";
}

TEST(ExamSave, EmptyTreeWritesNothingAndSaysWhy)
{
    ScratchProgramDir scratch;
    RunFixture f;
    EXPECT_TRUE(SaveExamData(f.project, f.host).isEmpty());
    EXPECT_FALSE(QDir(scratch.dir.path() + "/exam").exists());
    ASSERT_EQ(f.host.log.size(), 1);
    EXPECT_TRUE(f.host.log[0].contains("没有节点"));
}

struct LoadFixture : RunFixture
{
    QTemporaryDir dir;
    QString file = dir.path() + "/set.exm";

    LoadFixture()
    {
        setNodes({{0, "T", "A+B", "t"}, {1, "A", "", "1"}, {1, "B", "", "2"}, {0, "A", "", "9"}});
        addPage({{"A", "1"}, {"[1][1][0][B]", "2"}, {"T", "t"}});
    }
    void write(const QByteArray &bytes) { writeFileAtomically(file, bytes); }
};

TEST(ExamLoad, PutsValuesIntoNodesAndCellsAndNamesTheUnknown)
{
    LoadFixture f;
    f.write("<?xml version=\"1.0\" encoding=\"GB2312\"?>\n"
            "<root Name=\"x\"><TNodeData Name=\"A\" Value=\"5\"/><TNodeData Name=\"Z\" "
            "Value=\"0\"/><Other Name=\"B\" Value=\"-7\"/><TNodeData Name=\"A\" Value=\"6\"/>"
            "<TNodeData Name=\"Y\"/></root>");
    const TqzExamLoadResult r = LoadExamData(f.file, f.project, f.excel.workbook(), f.host);
    EXPECT_EQ(r.loaded, 2);
    EXPECT_EQ(r.unknown, (QStringList{"Z", "Y"}));
    EXPECT_EQ(f.values(), (QStringList{"t", "5", "-7", "5"}));
    EXPECT_EQ(f.excel.GetTagValue("A"), "5");
    EXPECT_EQ(f.excel.GetTagValue("B"), "-7");
    EXPECT_EQ(f.excel.GetTagValue("T"), "t");
    ASSERT_EQ(f.host.log.size(), 2);
    EXPECT_TRUE(f.host.log[0].contains("2 个名称"));
    EXPECT_EQ(f.host.log[1], "工程中没有的名称: Z, Y");

    // A run afterwards computes from the loaded values.
    f.run.runProject();
    EXPECT_EQ(f.excel.GetTagValue("T"), "-2.0");
}

TEST(ExamLoad, DamagedFileOrPageChangesNothing)
{
    struct Case
    {
        const char *what;
        QByteArray bytes;
        QString message; // part of the error
    };
    const std::vector<Case> cases = {
        {"truncated",
         "<?xml version=\"1.0\"?>\n<root><TNodeData Name=\"A\" Value=\"5\"/>",
         "line 2"},
        {"not a set", "<?xml version=\"1.0\"?>\n<TqzProject/>", "not \"root\""},
        {"entry without a name",
         "<root>\n<TNodeData Name=\"A\" Value=\"5\"/>\n<TNodeData Value=\"1\"/></root>",
         "line 3"},
        {"undecodable bytes",
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?><root Name=\"\xff\"/>",
         "set.exm"},
        {"empty file", "", "set.exm"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        LoadFixture f;
        f.write(c.bytes);
        try {
            LoadExamData(f.file, f.project, f.excel.workbook(), f.host);
            ADD_FAILURE() << "no error";
        } catch (const Error &e) {
            EXPECT_TRUE(e.message().contains(c.message)) << e.message().toStdString();
            EXPECT_TRUE(f.host.log.last().startsWith("加载测试数据失败: "));
        }
        EXPECT_EQ(f.values(), (QStringList{"t", "1", "2", "9"}));
        EXPECT_EQ(f.excel.GetTagValue("A"), "1");
    }
    {
        // A tag the exchange cannot parse refuses the load before anything is written.
        LoadFixture f;
        f.addPage({{"[1]", "x"}});
        f.write(
            "<root><TNodeData Name=\"B\" Value=\"5\"/><TNodeData Name=\"A\" Value=\"3\"/></root>");
        EXPECT_THROW(LoadExamData(f.file, f.project, f.excel.workbook(), f.host), Error);
        EXPECT_EQ(f.values(), (QStringList{"t", "1", "2", "9"}));
        EXPECT_EQ(f.excel.Pages.front()->GetCallText(1, 0), "2");
    }
}

TEST(ExamFile, ReadsBackWhatIsSavedInGb2312)
{
    TqzExamData saved;
    saved.Name = "离心泵";
    saved.Remark = "备注 &<\"";
    saved.Add(std::make_unique<TqzNodeData>("流量", "50"));
    saved.Add(std::make_unique<TqzNodeData>("流量", "60"));
    const QByteArray bytes = ExamDataToBytes(saved);
    ASSERT_TRUE(bytes.contains("GB2312"));

    TqzExamData read;
    read.Author = "kept?";
    LoadExamDataFromBytes(read, bytes, "mem");
    EXPECT_EQ(read.Name, saved.Name);
    EXPECT_EQ(read.Remark, saved.Remark);
    EXPECT_EQ(read.Author, saved.Author);
    ASSERT_EQ(read.NodeDatas.size(), 2u);
    EXPECT_EQ(read.NodeDatas[1]->Value, "60");

    // A document without the four texts keeps the set's own.
    LoadExamDataFromBytes(read, "<root/>", "mem");
    EXPECT_EQ(read.Name, saved.Name);
    EXPECT_TRUE(read.NodeDatas.empty());
}

} // namespace
