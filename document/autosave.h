#pragma once
// The recovery store: copies of changed, unsaved projects written now and then into a folder
// under the user's state directory, so that after a crash the next start can offer them.
#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

class QLockFile;

namespace tessarin {

// The longest time between a change and its copy in the recovery folder (one minute).
inline constexpr int MaxAutosaveIntervalMs = 60000;

// The interval asked for by TESSARIN_AUTOSAVE_MS (milliseconds, 1 to MaxAutosaveIntervalMs);
// MaxAutosaveIntervalMs when it is unset or not such a number.
int autosaveIntervalFromEnvironment();
// `text` as an interval in milliseconds, or -1 when it is no whole number from 1 to
// MaxAutosaveIntervalMs.
int parseAutosaveInterval(const QString &text);

// One recoverable project of a session that has ended without saving or closing it.
struct TRecoveryEntry
{
    // The entry's name in the folder ("<session>-<number>"): its files are Key + ".flw" (the
    // project document) and Key + ".json" (what the question shows).
    QString Key;
    // The project file the copy belongs to; empty for a project never saved.
    QString FileName;
    // The window's caption when the copy was written.
    QString Caption;
    // When the copy was written (UTC).
    QDateTime Time;
    // The process that wrote it.
    qint64 Pid = 0;
    // Why the entry cannot be recovered (unreadable description, copy missing); empty when it
    // looks sound. A damaged project document shows only when it is read.
    QString Problem;

    // The file name, or the caption for a project never saved.
    QString documentName() const;
};

// The recovery folder of one running program: its session is marked by a lock file held while
// the store lives, so that another instance never offers the copies of a running one.
class TRecoveryStore
{
public:
    // The folder of the current user: $XDG_STATE_HOME/tessarin/recovery, or
    // ~/.local/state/tessarin/recovery when that variable is unset or not an absolute path.
    static QString defaultFolder();

    // Opens (and creates) `folder` and starts a session in it. A folder that cannot be made
    // is not an error here: every write then fails with a message naming it.
    explicit TRecoveryStore(const QString &folder = defaultFolder());
    ~TRecoveryStore();
    TRecoveryStore(const TRecoveryStore &) = delete;
    TRecoveryStore &operator=(const TRecoveryStore &) = delete;

    const QString &folder() const { return m_folder; }
    const QString &session() const { return m_session; }
    // False when the session lock could not be taken (the folder cannot be written).
    bool hasSession() const;

    // A key of this session for a new window's copies.
    QString newKey();
    // Writes the copy of `document` under `key`, atomically: its description first, then the
    // document, each whole or not at all. Throws Error naming the file and why, or the folder
    // when the session's lock cannot be taken there (nothing is then written).
    void write(const QString &key,
               const QByteArray &document,
               const QString &fileName,
               const QString &caption);
    // Removes the copy under `key` and its description; nothing when there is none.
    void discard(const QString &key);
    // Whether a copy is stored under `key`.
    bool contains(const QString &key) const;
    // The file holding the copy's project document.
    QString documentPath(const QString &key) const;

    // The entries of sessions that have ended, oldest first. Each listed session is taken over
    // by this store (its lock held from now on), so no other instance offers the same entries;
    // entries left alone are offered again after this session ends.
    QList<TRecoveryEntry> recoverable();
    // The copy's project document. Throws Error naming the entry when it is missing, empty or
    // cannot be read.
    QByteArray read(const TRecoveryEntry &entry) const;

private:
    QString lockPath(const QString &session) const;
    // Takes the lock of `session` when no running process holds it.
    bool adopt(const QString &session);

    QString m_folder;
    QString m_session;
    int m_nextKey = 1;
    std::unique_ptr<QLockFile> m_lock;
    // Sessions taken over by recoverable(), with their locks.
    QStringList m_adoptedSessions;
    std::vector<std::unique_ptr<QLockFile>> m_adopted;
};

} // namespace tessarin
