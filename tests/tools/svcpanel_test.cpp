#include "dynlib.h"
#include "error.h"
#include "programupdate.h"
#include "svcpanel.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTimer>

using namespace tessarin;

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

class ProgramUpdateTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(program.isValid() && downloads.isValid()); }

    // A candidate program: a shell script with the given body.
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
    QByteArray replacement() const
    {
        QFile f(update.replacementPath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    QTemporaryDir program;
    QTemporaryDir downloads;
    ProgramUpdate update{program.path(), ProgramVersion{1, 2, 0}};
};

TEST_F(ProgramUpdateTest, NewerTessarinIsPlacedAsTheReplacement)
{
    const QByteArray older = "#!/bin/sh\necho 'Tessarin 1.3.0'\n";
    const QByteArray newer = "#!/bin/sh\necho 'Tessarin 2.0'\necho more\n";
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
}

TEST_F(ProgramUpdateTest, AnythingElseIsRefusedAndLeavesNothingBehind)
{
    const QByteArray placed = "#!/bin/sh\necho 'Tessarin 1.5.0'\n";
    update.install(candidate("placed", placed));
    struct Row
    {
        QString file;
        const char *said;
        int timeoutMs = 30000; // generous: a loaded machine must not turn a refusal into another
    };
    ASSERT_TRUE(QDir(downloads.path()).mkpath("folder"));
    QFile huge(downloads.filePath("huge.iso")); // sparse: no disk space taken
    ASSERT_TRUE(huge.open(QIODevice::WriteOnly) && huge.resize(qint64(600) << 20));
    huge.close();
    const std::vector<Row> rows = {
        {candidate("same", "#!/bin/sh\necho 'Tessarin 1.2.0'\n"), "不高于当前版本 1.2.0"},
        {candidate("older", "#!/bin/sh\necho 'Tessarin 0.9.9'\n"), "不高于当前版本"},
        {candidate("foreign", "#!/bin/sh\necho 'Frobnicator 9.0'\n"), "不是 Tessarin 程序"},
        {candidate("silent", "#!/bin/sh\n"), "不是 Tessarin 程序"},
        {candidate("failing", "#!/bin/sh\necho 'Tessarin 9.0.0'\nexit 3\n"), "退出码 3"},
        {candidate("hanging", "#!/bin/sh\nexec sleep 30\n"), "没有回答 --version", 1000},
        {candidate("text.txt", "just some notes\n"), "不是可运行的程序"},
        {downloads.filePath("folder"), "不是文件"},
        {downloads.filePath("huge.iso"), "太大"},
        {downloads.filePath("nowhere"), "不存在"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.file.toStdString());
        update.setTimeout(row.timeoutMs);
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
}

TEST_F(ProgramUpdateTest, UnwritableProgramDirectoryIsReported)
{
    ProgramUpdate nowhere(program.filePath("missing/dir"), ProgramVersion{1, 0, 0});
    try {
        nowhere.install(candidate("t", "#!/bin/sh\necho 'Tessarin 2.0.0'\n"));
        ADD_FAILURE() << "accepted";
    } catch (const Error &e) {
        EXPECT_TRUE(e.message().contains("不可写")) << e.message().toStdString();
    }
}
