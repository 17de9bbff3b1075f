// The recovery store: where it lives, the interval it is given, which sessions' copies are
// offered (ended ones, once at a time; never a live one's), and damaged entries.

#include "autosave.h"

#include "error.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSysInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <optional>

using namespace tessarin;

namespace {

// Sets (or, with no value, unsets) an environment variable; restored when the object goes.
struct ScopedEnv
{
    const char *name;
    std::optional<QByteArray> old;
    ScopedEnv(const char *n, const std::optional<QByteArray> &value)
        : name(n)
        , old(qEnvironmentVariableIsSet(n) ? std::optional(qgetenv(n)) : std::nullopt)
    {
        set(value);
    }
    ~ScopedEnv() { set(old); }
    void set(const std::optional<QByteArray> &value)
    {
        value ? void(qputenv(name, *value)) : void(qunsetenv(name));
    }
};

void writeRaw(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

QStringList keysOf(const QList<TRecoveryEntry> &entries)
{
    QStringList keys;
    for (const TRecoveryEntry &entry : entries)
        keys << entry.Key;
    return keys;
}

} // namespace

TEST(RecoveryStore, FolderAndIntervalFollowTheEnvironment)
{
    const ScopedEnv home("HOME", QByteArray("/home/engineer"));
    const std::pair<std::optional<QByteArray>, const char *> folders[] = {
        {std::nullopt, "/home/engineer/.local/state/tessarin/recovery"},
        {QByteArray(""), "/home/engineer/.local/state/tessarin/recovery"},
        {QByteArray("/var/state/"), "/var/state/tessarin/recovery"},
        // A relative value is no state directory at all.
        {QByteArray("state"), "/home/engineer/.local/state/tessarin/recovery"},
        {QByteArray("/srv/用户"), "/srv/用户/tessarin/recovery"},
    };
    for (const auto &[state, folder] : folders) {
        const ScopedEnv env("XDG_STATE_HOME", state);
        EXPECT_EQ(TRecoveryStore::defaultFolder(), QString::fromUtf8(folder)) << folder;
    }
    const std::pair<const char *, int> intervals[] = {{"250", 250},
                                                      {" 40 ", 40},
                                                      {"1", 1},
                                                      {"60000", 60000},
                                                      {"60001", -1},
                                                      {"0", -1},
                                                      {"-5", -1},
                                                      {"1.5", -1},
                                                      {"abc", -1},
                                                      {"", -1}};
    for (const auto &[text, ms] : intervals) {
        EXPECT_EQ(parseAutosaveInterval(QString::fromUtf8(text)), ms) << text;
        const ScopedEnv env("TESSARIN_AUTOSAVE_MS", QByteArray(text));
        EXPECT_EQ(autosaveIntervalFromEnvironment(), ms > 0 ? ms : MaxAutosaveIntervalMs) << text;
    }
}

// A session that ends without discarding its copies leaves them to the next start; a live
// session's copies, and those another live session has taken over, are never offered; what an
// answer of "later" leaves is offered again after the session that held it ends.
TEST(RecoveryStore, CopiesOfEndedSessionsAreOfferedToOneSessionAtATime)
{
    QTemporaryDir dir;
    const QString folder = dir.filePath("state/tessarin/recovery");
    QString first, second, crashedSession;
    {
        TRecoveryStore crashed(folder);
        ASSERT_TRUE(crashed.hasSession());
        crashedSession = crashed.session();
        first = crashed.newKey();
        second = crashed.newKey();
        crashed.write(first, "<old/>", "/data/pump.flw", "pump.flw");
        crashed.write(first, "<first/>", "/data/pump.flw", "pump.flw");
        crashed.write(second, "<second/>", QString(), "流程集成开发环境");
        EXPECT_TRUE(TRecoveryStore(folder).recoverable().isEmpty()) << "a live session's copies";
    }
    EXPECT_EQ(QFileInfo(folder).permissions() & (QFileDevice::ReadOther | QFileDevice::ReadGroup),
              QFileDevice::Permissions());
    {
        TRecoveryStore next(folder);
        const QList<TRecoveryEntry> entries = next.recoverable();
        ASSERT_EQ(keysOf(entries), (QStringList{first, second}));
        EXPECT_EQ(entries[0].documentName(), "/data/pump.flw");
        EXPECT_EQ(entries[1].documentName(), "流程集成开发环境");
        EXPECT_EQ(entries[0].Pid, QCoreApplication::applicationPid());
        EXPECT_LE(qAbs(entries[0].Time.secsTo(QDateTime::currentDateTimeUtc())), 60);
        EXPECT_TRUE(entries[0].Problem.isEmpty() && entries[1].Problem.isEmpty());
        EXPECT_EQ(next.read(entries[0]), "<first/>");
        EXPECT_EQ(next.read(entries[1]), "<second/>");
        EXPECT_EQ(keysOf(next.recoverable()), keysOf(entries));
        EXPECT_TRUE(TRecoveryStore(folder).recoverable().isEmpty()) << "taken over";
        next.discard(first);
        EXPECT_THROW(next.read(entries[0]), Error);
    }
    // A lock a killed process left with nothing beside it goes; a live session keeps its own.
    writeRaw(folder + "/4000000_deadbeef.lock",
             "2147483000\nTessarin\n" + QSysInfo::machineHostName().toUtf8() + "\n");
    TRecoveryStore live(folder);
    TRecoveryStore later(folder);
    EXPECT_EQ(keysOf(later.recoverable()), QStringList{second});
    QStringList locks{
        live.session() + ".lock", later.session() + ".lock", crashedSession + ".lock"};
    locks.sort();
    EXPECT_EQ(QDir(folder).entryList({"*.lock"}, QDir::Files, QDir::Name), locks);
}

// A damaged entry is reported with what and where; one that was never written is dropped.
TEST(RecoveryStore, DamagedEntriesAreReportedNotOffered)
{
    struct Case
    {
        const char *name;
        std::optional<QByteArray> description; // replaces the written one
        std::optional<QByteArray> document;    // replaces the written one; null: removed
        const char *problem;                   // in Problem, with the description's name
        const char *readError;                 // in read()'s Error; null: read succeeds
    };
    const Case cases[] = {
        {"sound", std::nullopt, std::nullopt, nullptr, nullptr},
        {"garbage description", QByteArray("{\"file\": "), std::nullopt, "cannot be read", nullptr},
        {"not an object", QByteArray("[1, 2]"), std::nullopt, "no description object", nullptr},
        {"empty copy", std::nullopt, QByteArray(""), nullptr, "is empty"},
        {"copy never written", std::nullopt, QByteArray(), nullptr, nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        QString key;
        {
            TRecoveryStore crashed(dir.path());
            key = crashed.newKey();
            crashed.write(key, "<doc/>", "/p.flw", "p.flw");
            if (c.description)
                writeRaw(dir.filePath(key + ".json"), *c.description);
            if (c.document && c.document->isNull())
                QFile::remove(crashed.documentPath(key));
            else if (c.document)
                writeRaw(crashed.documentPath(key), *c.document);
        }
        TRecoveryStore store(dir.path());
        const QList<TRecoveryEntry> entries = store.recoverable();
        const bool listed = !(c.document && c.document->isNull());
        ASSERT_EQ(entries.size(), listed ? 1 : 0);
        EXPECT_EQ(QFile::exists(dir.filePath(key + ".json")), listed);
        if (!listed)
            continue;
        const QString problem = entries[0].Problem;
        EXPECT_EQ(problem.isEmpty(), !c.problem) << problem.toStdString();
        if (c.problem) {
            EXPECT_TRUE(problem.contains(c.problem) && problem.contains(key + ".json"))
                << problem.toStdString();
        }
        try {
            EXPECT_EQ(store.read(entries[0]), "<doc/>");
            EXPECT_FALSE(c.readError);
        } catch (const Error &e) {
            ASSERT_TRUE(c.readError) << e.message().toStdString();
            EXPECT_TRUE(e.message().contains(c.readError) && e.message().contains(key + ".flw"))
                << e.message().toStdString();
        }
    }
}
