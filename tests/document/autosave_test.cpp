// The recovery store: where it lives, the interval it is given, what survives a session that
// ended without cleaning up, what another live session never sees, and damaged copies.

#include "autosave.h"

#include "atomicfile.h"
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

// Sets or unsets an environment variable for the life of the object.
class ScopedEnv
{
public:
    ScopedEnv(const char *name, const std::optional<QByteArray> &value)
        : m_name(name)
        , m_old(qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt)
    {
        set(value);
    }
    ~ScopedEnv() { set(m_old); }

private:
    void set(const std::optional<QByteArray> &value)
    {
        if (value)
            qputenv(m_name, *value);
        else
            qunsetenv(m_name);
    }
    const char *m_name;
    std::optional<QByteArray> m_old;
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

QString sessionOf(const QString &key)
{
    return key.left(key.lastIndexOf('-'));
}

} // namespace

TEST(RecoveryStore, FolderFollowsTheStateDirectory)
{
    const ScopedEnv home("HOME", QByteArray("/home/engineer"));
    struct Case
    {
        std::optional<QByteArray> state;
        const char *folder;
    };
    const Case cases[] = {
        {std::nullopt, "/home/engineer/.local/state/tessarin/recovery"},
        {QByteArray(""), "/home/engineer/.local/state/tessarin/recovery"},
        {QByteArray("/var/state/"), "/var/state/tessarin/recovery"},
        // A relative value is no state directory at all.
        {QByteArray("state"), "/home/engineer/.local/state/tessarin/recovery"},
        {QByteArray("/srv/用户/state"), "/srv/用户/state/tessarin/recovery"},
    };
    for (const Case &c : cases) {
        const ScopedEnv state("XDG_STATE_HOME", c.state);
        EXPECT_EQ(TRecoveryStore::defaultFolder(), QString::fromUtf8(c.folder))
            << (c.state ? c.state->constData() : "(unset)");
    }
}

TEST(RecoveryStore, IntervalIsShortenedOnlyByAWholeNumberOfMilliseconds)
{
    struct Case
    {
        const char *text;
        int parsed;
    };
    const Case cases[] = {{"250", 250},
                          {" 40 ", 40},
                          {"1", 1},
                          {"60000", 60000},
                          {"60001", -1},
                          {"0", -1},
                          {"-5", -1},
                          {"1.5", -1},
                          {"abc", -1},
                          {"", -1}};
    for (const Case &c : cases) {
        EXPECT_EQ(parseAutosaveInterval(QString::fromUtf8(c.text)), c.parsed) << c.text;
        const ScopedEnv env("TESSARIN_AUTOSAVE_MS", QByteArray(c.text));
        EXPECT_EQ(autosaveIntervalFromEnvironment(), c.parsed > 0 ? c.parsed : 60000) << c.text;
    }
    const ScopedEnv unset("TESSARIN_AUTOSAVE_MS", std::nullopt);
    EXPECT_EQ(autosaveIntervalFromEnvironment(), MaxAutosaveIntervalMs);
}

// A session that ends without discarding its copies leaves them to the next; a live session's
// copies, and those another live session has taken over, are never offered.
TEST(RecoveryStore, CopiesOfEndedSessionsAreOfferedOnceAtATime)
{
    QTemporaryDir dir;
    const QString folder = dir.filePath("state/tessarin/recovery");
    QString first, second;
    {
        TRecoveryStore crashed(folder);
        ASSERT_TRUE(crashed.hasSession());
        first = crashed.newKey();
        second = crashed.newKey();
        EXPECT_NE(first, second);
        crashed.write(first, "<old/>", "/data/pump.flw", "pump.flw");
        crashed.write(first, "<first/>", "/data/pump.flw", "pump.flw");
        crashed.write(second, "<second/>", QString(), "流程集成开发环境");
        EXPECT_TRUE(crashed.contains(first));

        TRecoveryStore other(folder);
        EXPECT_TRUE(other.recoverable().isEmpty()) << "a running session's copies";
        // Discarding what was never written is harmless.
        other.discard(other.newKey());
        EXPECT_TRUE(crashed.contains(second));
    }
    EXPECT_EQ(QFileInfo(folder).permissions() & (QFileDevice::ReadOther | QFileDevice::ReadGroup),
              QFileDevice::Permissions());

    TRecoveryStore next(folder);
    const QList<TRecoveryEntry> entries = next.recoverable();
    ASSERT_EQ(keysOf(entries), (QStringList{first, second}));
    EXPECT_EQ(entries[0].FileName, "/data/pump.flw");
    EXPECT_EQ(entries[0].documentName(), "/data/pump.flw");
    EXPECT_EQ(entries[1].documentName(), "流程集成开发环境");
    EXPECT_EQ(entries[0].Pid, QCoreApplication::applicationPid());
    EXPECT_LE(qAbs(entries[0].Time.secsTo(QDateTime::currentDateTimeUtc())), 60);
    for (const TRecoveryEntry &entry : entries)
        EXPECT_TRUE(entry.Problem.isEmpty()) << entry.Problem.toStdString();
    EXPECT_EQ(next.read(entries[0]), "<first/>");
    EXPECT_EQ(next.read(entries[1]), "<second/>");
    // Asking again in the same session gives the same list.
    EXPECT_EQ(keysOf(next.recoverable()), keysOf(entries));
    {
        TRecoveryStore concurrent(folder);
        EXPECT_TRUE(concurrent.recoverable().isEmpty()) << "taken over by a live session";
    }
    next.discard(first);
    EXPECT_FALSE(next.contains(first));
    EXPECT_THROW(next.read(entries[0]), Error);
}

TEST(RecoveryStore, LaterOffersTheRestAgainAfterTheSessionEnds)
{
    QTemporaryDir dir;
    QString key;
    {
        TRecoveryStore crashed(dir.path());
        key = crashed.newKey();
        crashed.write(key, "<doc/>", QString(), "caption");
    }
    for (int start = 0; start < 3; ++start) {
        TRecoveryStore store(dir.path());
        EXPECT_EQ(keysOf(store.recoverable()), QStringList{key}) << "start " << start;
    }
    // Only the copy and its description stay: the ended sessions' locks went with them.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
    // So does the lock a killed process left with nothing beside it; a live session keeps its own.
    writeRaw(dir.filePath("4000000_deadbeef.lock"),
             "2147483000\nTessarin\n" + QSysInfo::machineHostName().toUtf8() + "\n");
    TRecoveryStore live(dir.path());
    TRecoveryStore store(dir.path());
    EXPECT_EQ(store.recoverable().size(), 1);
    QStringList locks{
        live.session() + ".lock", store.session() + ".lock", sessionOf(key) + ".lock"};
    locks.sort();
    EXPECT_EQ(QDir(dir.path()).entryList({"*.lock"}, QDir::Files, QDir::Name), locks);
    store.discard(key);
}

// A damaged entry is reported with what and where; one that was never written is dropped.
TEST(RecoveryStore, DamagedEntriesAreReportedNotOffered)
{
    struct Case
    {
        const char *name;
        std::optional<QByteArray> description; // replaces the written one
        std::optional<QByteArray> document;    // replaces the written one; empty: removed
        bool listed;
        const char *problem;   // in Problem
        const char *readError; // in the Error of read(); null: read succeeds
    };
    const Case cases[] = {
        {"sound", std::nullopt, std::nullopt, true, "", nullptr},
        {"garbage description",
         QByteArray("{\"file\": \"/x.flw\", "),
         std::nullopt,
         true,
         "cannot be read",
         nullptr},
        {"description not an object",
         QByteArray("[1, 2]"),
         std::nullopt,
         true,
         "no description object",
         nullptr},
        {"empty copy", std::nullopt, QByteArray(""), true, "", "is empty"},
        {"copy never written", std::nullopt, QByteArray(), false, "", nullptr},
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
        ASSERT_EQ(entries.size(), c.listed ? 1 : 0);
        if (!c.listed) {
            EXPECT_FALSE(QFile::exists(dir.filePath(key + ".json")));
            continue;
        }
        EXPECT_EQ(entries[0].Key, key);
        EXPECT_TRUE(entries[0].Problem.contains(c.problem)) << entries[0].Problem.toStdString();
        if (*c.problem) {
            EXPECT_TRUE(entries[0].Problem.contains(key + ".json"));
        }
        if (c.readError) {
            try {
                store.read(entries[0]);
                ADD_FAILURE() << "read a damaged copy";
            } catch (const Error &e) {
                EXPECT_TRUE(e.message().contains(c.readError)) << e.message().toStdString();
                EXPECT_TRUE(e.message().contains(key + ".flw")) << e.message().toStdString();
            }
        } else {
            EXPECT_EQ(store.read(entries[0]), "<doc/>");
        }
    }
}

TEST(RecoveryStore, AFolderThatCannotBeMadeFailsEachWriteWithItsName)
{
    QTemporaryDir dir;
    writeRaw(dir.filePath("blocker"), "a file where the folder should be");
    const QString folder = dir.filePath("blocker/recovery");
    TRecoveryStore store(folder);
    EXPECT_FALSE(store.hasSession());
    const QString key = store.newKey();
    for (int attempt = 0; attempt < 2; ++attempt) {
        try {
            store.write(key, "<doc/>", QString(), "caption");
            ADD_FAILURE() << "wrote into " << folder.toStdString();
        } catch (const Error &e) {
            EXPECT_TRUE(e.message().contains(folder)) << e.message().toStdString();
        }
    }
    EXPECT_TRUE(store.recoverable().isEmpty());
    EXPECT_EQ(readWholeFile(dir.filePath("blocker")), "a file where the folder should be");
}
