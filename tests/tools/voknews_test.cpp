#include "examfiles.h"
#include "installcheck.h"
#include "programdir.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <map>

using namespace tessarin;

namespace {

// A program directory of our own, filled file by file; the real one is restored afterwards.
class ProgramDirectory : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        setProgramDirectory(dir.path());
    }
    void TearDown() override { setProgramDirectory(QStringLiteral(TESSARIN_BIN_DIR)); }

    void copyIn(const QString &from, const QString &name)
    {
        ASSERT_TRUE(QFile::copy(from, dir.filePath(name))) << from.toStdString();
    }
    void write(const QString &name, const QByteArray &bytes, bool executable = false)
    {
        QFile f(dir.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        f.close();
        if (executable)
            f.setPermissions(f.permissions() | QFileDevice::ExeOwner);
    }
    // Everything an installation holds.
    void install()
    {
        const QString bin = QStringLiteral(TESSARIN_BIN_DIR "/");
        copyIn(bin + "libscriptrt.so", "libscriptrt.so");
        copyIn(bin + "project.h", "project.h");
        copyIn(bin + "libsvcpanel.so", "libsvcpanel.so");
        copyIn(QStringLiteral(TESSARIN_FIXTURE_MODULES "/libcalcpack.so"), "libcalcpack.so");
        write("Tessarin", "#!/bin/sh\n", true);
        write("unitcalc", "#!/bin/sh\n", true);
        ASSERT_TRUE(QDir(dir.path()).mkpath("help"));
        write("help/calcpack.html", "<html></html>");
    }
    std::map<QString, CheckItem> checks() const
    {
        std::map<QString, CheckItem> byName;
        for (const CheckItem &item : runInstallationCheck())
            byName[item.name] = item;
        return byName;
    }

    QTemporaryDir dir;
};

using InstallationCheck = ProgramDirectory;
using ExamFiles = ProgramDirectory;

} // namespace

TEST_F(InstallationCheck, CompleteInstallationPassesEveryItem)
{
    install();
    const auto items = checks();
    EXPECT_EQ(items.size(), 10u);
    for (const auto &[name, item] : items)
        EXPECT_TRUE(item.passed) << name.toStdString() << ": " << item.detail.toStdString();
    EXPECT_TRUE(items.at("解释器计算测试公式").detail.contains("12.5"));
}

TEST_F(InstallationCheck, EmptyDirectoryFailsEveryPartWithItsFile)
{
    const auto items = checks();
    for (const char *name : {"libscriptrt.so", "libcalcpack.so", "libsvcpanel.so"}) {
        const CheckItem &item = items.at(QString::fromLatin1(name));
        EXPECT_FALSE(item.passed) << name;
        EXPECT_TRUE(item.detail.contains("缺少文件")) << item.detail.toStdString();
        EXPECT_TRUE(item.detail.contains(dir.filePath(name))) << item.detail.toStdString();
    }
    for (const char *name : {"主程序 Tessarin",
                             "解释器头文件 project.h",
                             "帮助文件",
                             "单位换算器 unitcalc",
                             "解释器计算测试公式"})
        EXPECT_FALSE(items.at(QString::fromUtf8(name)).passed) << name;
    // The exam folder does not exist yet but can be made.
    const CheckItem &exam = items.at("测试数据文件夹 exam 可写");
    EXPECT_TRUE(exam.passed);
    EXPECT_TRUE(exam.detail.contains("尚不存在"));
}

TEST_F(InstallationCheck, BrokenPartsAreNamed)
{
    install();
    // A damaged interpreter, a module without its entry, a header gone, the program not
    // executable, and a file where the exam folder belongs.
    QFile::remove(dir.filePath("libscriptrt.so"));
    write("libscriptrt.so", QByteArray(4096, 'x'));
    QFile::remove(dir.filePath("libcalcpack.so"));
    copyIn(QStringLiteral(TESSARIN_BIN_DIR "/libsvcpanel.so"), "libcalcpack.so");
    QFile::remove(dir.filePath("project.h"));
    QFile::remove(dir.filePath("Tessarin"));
    write("Tessarin", "#!/bin/sh\n");
    write("exam", "not a folder");

    const auto items = checks();
    const std::map<QString, QString> expected = {
        {"libscriptrt.so", "无法加载"},
        {"libcalcpack.so", "缺少入口 GetFLW"},
        {"解释器头文件 project.h", "缺少文件"},
        {"解释器计算测试公式", "解释器库不可用"},
        {"主程序 Tessarin", "不可执行"},
        {"测试数据文件夹 exam 可写", "是文件而不是文件夹"},
    };
    for (const auto &[name, said] : expected) {
        const CheckItem &item = items.at(name);
        EXPECT_FALSE(item.passed) << name.toStdString();
        EXPECT_TRUE(item.detail.contains(said))
            << name.toStdString() << ": " << item.detail.toStdString();
    }
    EXPECT_TRUE(items.at("libsvcpanel.so").passed);
}

TEST_F(InstallationCheck, InterpreterWithoutItsHeaderFailsNamingIt)
{
    install();
    QFile::remove(dir.filePath("project.h"));
    const CheckItem item = checkInterpreter();
    EXPECT_FALSE(item.passed);
    EXPECT_TRUE(item.detail.contains("project.h")) << item.detail.toStdString();
}

TEST(InstallationCheckFont, FirstWantedFaceInstalled)
{
    struct Row
    {
        QStringList wanted;
        QStringList installed;
        bool passed;
        const char *said;
    };
    const std::vector<Row> rows = {
        {{"AR PL UMing CN", "Noto Serif CJK SC"},
         {"DejaVu Sans", "Noto Serif CJK SC"},
         true,
         "宋体 → Noto Serif CJK SC"},
        // substitutes are lower-cased; the installed spelling is shown
        {{"ar pl uming cn", "noto serif cjk sc"},
         {"Noto Serif CJK SC", "AR PL UMing CN"},
         true,
         "宋体 → AR PL UMing CN"},
        {{"Noto Serif CJK SC"}, {"DejaVu Sans"}, false, "fonts-noto-cjk"},
        {{}, {"Noto Serif CJK SC"}, false, "没有为宋体配置替代字体"},
    };
    for (const Row &row : rows) {
        const CheckItem item = checkCjkFont(row.wanted, row.installed);
        EXPECT_EQ(item.passed, row.passed) << row.said;
        EXPECT_TRUE(item.detail.contains(QString::fromUtf8(row.said))) << item.detail.toStdString();
    }
}

TEST_F(ExamFiles, ListedInNumberOrderAndDeletedOnRequest)
{
    ASSERT_TRUE(QDir(dir.path()).mkpath("exam"));
    for (const char *name : {"VOK10.exm",
                             "VOK2.exm",
                             "VOK1.exm",
                             "vok3.EXM",
                             "VOK1000.exm",
                             "VOK0.exm",
                             "VOK01.exm",
                             "VOK1001.exm",
                             "VOK5.exm.bak",
                             "notes.txt"})
        write(QStringLiteral("exam/") + name, "<root/>");
    ASSERT_TRUE(QDir(dir.path()).mkpath("exam/VOK7.exm")); // a folder, not a file

    std::vector<ExamFile> files = listExamFiles(examDirectory());
    QStringList names;
    std::vector<int> numbers;
    for (const ExamFile &f : files) {
        names << QFileInfo(f.path).fileName();
        numbers.push_back(f.number);
        EXPECT_EQ(f.size, 7);
    }
    EXPECT_EQ(names, QStringList({"VOK1.exm", "VOK2.exm", "vok3.EXM", "VOK10.exm", "VOK1000.exm"}));
    EXPECT_EQ(numbers, (std::vector<int>{1, 2, 3, 10, 1000}));

    // Delete two, one of them already gone: no failure, and the others stay.
    std::vector<ExamFile> chosen{files[1], files[3]};
    QFile::remove(files[3].path);
    EXPECT_TRUE(deleteExamFiles(chosen).isEmpty());
    names.clear();
    for (const ExamFile &f : listExamFiles(examDirectory()))
        names << QFileInfo(f.path).fileName();
    EXPECT_EQ(names, QStringList({"VOK1.exm", "vok3.EXM", "VOK1000.exm"}));
    EXPECT_TRUE(QFile::exists(dir.filePath("exam/notes.txt")));
    EXPECT_TRUE(listExamFiles(dir.filePath("missing")).empty());

    // What cannot be deleted is reported by name.
    const QStringList failures = deleteExamFiles({{dir.filePath("exam/VOK7.exm"), 7, 0, {}}});
    ASSERT_EQ(failures.size(), 1);
    EXPECT_TRUE(failures[0].contains("VOK7.exm") && failures[0].contains("无法删除"));
}
