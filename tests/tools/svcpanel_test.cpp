#include "dynlib.h"
#include "error.h"
#include "programupdate.h"
#include "support/ourbuild.h"
#include "svcpanel.h"

#include <gtest/gtest.h>

#include <elf.h>

#include <QApplication>
#include <QBuffer>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTimer>

using namespace tessarin;
using namespace tessarin::test;

namespace {

// Closes the next modal dialog once it is shown and keeps what it showed.
struct DialogCapture
{
    QString title;
    QString text;

    void arm()
    {
        QTimer::singleShot(50, [this] { poll(); });
    }
    void poll()
    {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal) {
            QTimer::singleShot(20, [this] { poll(); });
            return;
        }
        title = modal->windowTitle();
        for (const QLabel *label : modal->findChildren<QLabel *>())
            text += label->text() + '\n';
        for (const QTextBrowser *browser : modal->findChildren<QTextBrowser *>())
            text += browser->toPlainText() + '\n';
        static_cast<QDialog *>(modal)->reject();
    }
};

} // namespace

TEST(ServiceLibrary, EntriesShowTheirDialogsAndReturn)
{
    DynamicLibrary library;
    ASSERT_TRUE(library.load(QStringLiteral("svcpanel.dll")))
        << library.errorString().toStdString();
    auto showAbout = reinterpret_cast<ShowAboutProc>(library.resolve("ShowAbout@8"));
    auto showUpdate = reinterpret_cast<ShowUpdateProc>(library.resolve("ShowUpdate@4"));
    ASSERT_TRUE(showAbout && showUpdate);

    DialogCapture about;
    about.arm();
    showAbout(nullptr, "zurivazuz");
    EXPECT_EQ(about.title, QStringLiteral("zurivazuz"));
    for (const QString &part : {currentProgramVersion().toString(),
                                buildDate(),
                                QString::fromLatin1(qVersion()),
                                QStringLiteral("AngelScript"),
                                QStringLiteral("LGPL"),
                                QStringLiteral("zlib")})
        EXPECT_TRUE(about.text.contains(part)) << part.toStdString();

    DialogCapture untitled;
    untitled.arm();
    showAbout(nullptr, nullptr);
    EXPECT_EQ(untitled.title, QStringLiteral("Tessarin"));

    DialogCapture update;
    update.arm();
    showUpdate(nullptr);
    EXPECT_EQ(update.title, QStringLiteral("在线升级"));
    EXPECT_TRUE(update.text.contains(QStringLiteral("ATessarin")));
}

TEST(ProgramVersionText, OnlyTessarinAnswersParse)
{
    struct Row
    {
        const char *line;
        bool parses;
        ProgramVersion version;
    };
    for (const Row &r : std::vector<Row>{{"Tessarin 1.0.0", true, {1, 0, 0}},
                                         {"Tessarin 2.11", true, {2, 11, 0}},
                                         {"  Tessarin 10.2.3\r", true, {10, 2, 3}},
                                         {"Tessarin 1", false, {}},
                                         {"Tessarin 1.0.0-beta", false, {}},
                                         {"tessarin 1.0.0", false, {}},
                                         {"Tessarin Pro 3.0", false, {}},
                                         {"GNU bash, version 5.2", false, {}},
                                         {"", false, {}}}) {
        ProgramVersion v;
        EXPECT_EQ(ProgramVersion::parse(QString::fromLatin1(r.line), v), r.parses) << r.line;
        if (r.parses) {
            EXPECT_EQ(v, r.version) << r.line;
        }
    }
    EXPECT_LT((ProgramVersion{1, 9, 9}), (ProgramVersion{1, 10, 0}));
    EXPECT_LT((ProgramVersion{0, 1, 0}), (ProgramVersion{1, 0, 0}));
}

namespace {

QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

// The identity is read from the section table: only an executable of this machine whose own
// section says "Tessarin X.Y.Z" is known as ours, whatever else the file holds or claims.
TEST(BuildIdentity, OnlyOurExecutablesForThisMachineAreKnown)
{
    ASSERT_FALSE(programBuild().isEmpty());
    const QByteArray trueProgram = fileBytes(QStandardPaths::findExecutable("true"));
    ASSERT_TRUE(trueProgram.startsWith("\x7f"
                                       "ELF"));
    const QByteArray &build = programBuild();
    ASSERT_FALSE(buildOfVersion("9.9.9").isEmpty()) << "the program carries no build identity";
    const auto le16 = [](quint16 v) { return QByteArray(reinterpret_cast<const char *>(&v), 2); };
    struct Row
    {
        const char *what;
        QByteArray bytes;
        ProgramVersion version; // when `refusal` is empty
        const char *refusal = "";
    };
    const std::vector<Row> rows = {
        {"our build", build, currentProgramVersion()},
        {"newer build", buildOfVersion("9.9.9"), {9, 9, 9}},
        {"shorter identity", buildOfVersion("2.1"), {2, 1, 0}},
        {"script claiming a version", "#!/bin/sh\necho 'Tessarin 9.9.9'\n", {}, "是脚本"},
        {"text", "Tessarin 9.9.9\n", {}, "不是 ELF 文件"},
        {"empty", "", {}, "不是 ELF 文件"},
        {"header only", build.left(40), {}, "文件头不完整"},
        {"interrupted download", build.left(build.size() / 2), {}, "节表超出文件末尾"},
        {"section table far away", patched(build, 40, QByteArray(8, '\x7f')), {}, "超出文件末尾"},
        {"odd section entries", patched(build, 58, le16(40)), {}, "节表头不一致"},
        {"object file", patched(build, 16, le16(ET_REL)), {}, "不是可执行程序"},
        {"other processor", patched(build, 18, le16(EM_SPARC)), {}, "其他处理器"},
        {"32-bit", patched(build, EI_CLASS, "\x01"), {}, "其他处理器或系统"},
        {"big-endian", patched(build, EI_DATA, "\x02"), {}, "其他处理器或系统"},
        {"foreign identity", buildWithIdentity("Orvane 9.9.9"), {}, "无法识别"},
        {"foreign program", trueProgram, {}, "没有 Tessarin 的构建标识"},
        {"identity outside its section",
         trueProgram + "TESSARIN-BUILD-ID:Tessarin 9.9.9" + '\0',
         {},
         "没有 Tessarin 的构建标识"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        QByteArray bytes = row.bytes;
        QBuffer buffer(&bytes);
        ASSERT_TRUE(buffer.open(QIODevice::ReadOnly));
        try {
            const ProgramVersion v = ProgramUpdate::readBuildIdentity(buffer, "candidate");
            EXPECT_STREQ(row.refusal, "") << "accepted as " << v.toString().toStdString();
            EXPECT_EQ(v, row.version);
        } catch (const Error &e) {
            EXPECT_TRUE(e.message().startsWith("candidate ")) << e.message().toStdString();
            EXPECT_TRUE(*row.refusal && e.message().contains(QString::fromUtf8(row.refusal)))
                << e.message().toStdString();
        }
    }
}

class ProgramUpdateTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(program.isValid() && downloads.isValid()); }

    // A candidate file with the given bytes.
    QString candidate(const QString &name, const QByteArray &body, bool executable = true)
    {
        const QString path = downloads.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(body);
        f.close();
        if (executable)
            f.setPermissions(f.permissions() | QFileDevice::ExeOwner);
        return path;
    }
    QStringList programFiles() const
    {
        return QDir(program.path())
            .entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    }
    QByteArray replacement() const { return fileBytes(update.replacementPath()); }

    QTemporaryDir program;
    QTemporaryDir downloads;
    ProgramUpdate update{program.path(), ProgramVersion{1, 2, 0}};
};

TEST_F(ProgramUpdateTest, NewerTessarinIsPlacedAsTheReplacement)
{
    const QByteArray older = buildOfVersion("1.3.0");
    const QByteArray newer = buildOfVersion("2.0");
    // Placed without execute permission: the copy is made runnable.
    EXPECT_EQ(update.install(candidate("t13", older, false)), (ProgramVersion{1, 3, 0}));
    EXPECT_EQ(replacement(), older);
    // A later pick replaces the earlier one whole.
    EXPECT_EQ(update.install(candidate("t2", newer)), (ProgramVersion{2, 0, 0}));
    EXPECT_EQ(replacement(), newer);
    EXPECT_EQ(programFiles(), QStringList{"ATessarin"});
    EXPECT_TRUE(QFileInfo(update.replacementPath()).isExecutable());
    EXPECT_EQ(update.replacementPath(), QDir(program.path()).filePath("ATessarin"));
    EXPECT_EQ(update.programPath(), QDir(program.path()).filePath("Tessarin"));
    // The program file as built, for a program older than itself.
    ProgramUpdate fromOlder{program.path(), ProgramVersion{0, 9, 0}};
    EXPECT_EQ(fromOlder.install(QStringLiteral(TESSARIN_PROGRAM)), currentProgramVersion());
    EXPECT_EQ(replacement(), programBuild());
}

// Nothing of a candidate is run: scripts that claim a newer version, answer without end or leave
// processes behind are refused by what they are, and leave no mark of having run.
TEST_F(ProgramUpdateTest, AnythingElseIsRefusedAndLeavesNothingBehind)
{
    const QByteArray placed = buildOfVersion("1.5.0");
    update.install(candidate("placed", placed));
    struct Row
    {
        QString file;
        const char *said;
    };
    const QByteArray ran = QFile::encodeName(downloads.filePath("ran"));
    const QByteArray mark = "touch '" + ran + "'\n";
    ASSERT_TRUE(QDir(downloads.path()).mkpath("folder"));
    QFile huge(downloads.filePath("huge.iso")); // sparse: no disk space taken
    ASSERT_TRUE(huge.open(QIODevice::WriteOnly) && huge.resize(qint64(600) << 20));
    huge.close();
    const std::vector<Row> rows = {
        {candidate("same", buildOfVersion("1.2.0")), "不高于当前版本 1.2.0"},
        {candidate("older", buildOfVersion("0.9.9")), "不高于当前版本"},
        {candidate("interrupted", programBuild().left(programBuild().size() - 100)), "不完整"},
        {candidate("claiming", "#!/bin/sh\n" + mark + "echo 'Tessarin 9.9.9'\n"), "是脚本"},
        {candidate("endless", "#!/bin/sh\n" + mark + "exec yes 'Tessarin 9.9.9'\n"), "是脚本"},
        {candidate("leaving a child",
                   "#!/bin/sh\n(sleep 2; " + mark + ") &\necho 'Tessarin 9.9.9'\n"),
         "是脚本"},
        {candidate("foreign", "#!/bin/sh\n" + mark + "echo 'Frobnicator 9.0'\n"), "是脚本"},
        {candidate("silent", "#!/bin/sh\n" + mark), "是脚本"},
        {candidate("failing", "#!/bin/sh\n" + mark + "echo 'Tessarin 9.0.0'\nexit 3\n"), "是脚本"},
        {candidate("hanging", "#!/bin/sh\n" + mark + "exec sleep 30\n"), "是脚本"},
        {candidate("text.txt", "just some notes\n"), "不是 ELF 文件"},
        {downloads.filePath("folder"), "不是文件"},
        {downloads.filePath("huge.iso"), "太大"},
        {downloads.filePath("nowhere"), "不存在"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.file.toStdString());
        try {
            update.install(row.file);
            ADD_FAILURE() << "accepted";
        } catch (const Error &e) {
            EXPECT_TRUE(e.message().contains(QString::fromUtf8(row.said)))
                << e.message().toStdString();
            // The message names the user's file, not the temporary copy.
            EXPECT_TRUE(e.message().contains(QDir::toNativeSeparators(row.file)))
                << e.message().toStdString();
        }
        EXPECT_EQ(programFiles(), QStringList{"ATessarin"});
        EXPECT_EQ(replacement(), placed);
    }
    EXPECT_FALSE(QFile::exists(QString::fromLocal8Bit(ran)));
}

TEST_F(ProgramUpdateTest, UnwritableProgramDirectoryIsReported)
{
    ProgramUpdate nowhere(program.filePath("missing/dir"), ProgramVersion{1, 0, 0});
    try {
        nowhere.install(candidate("t", buildOfVersion("2.0.0")));
        ADD_FAILURE() << "accepted";
    } catch (const Error &e) {
        EXPECT_TRUE(e.message().contains("不可写")) << e.message().toStdString();
    }
}
