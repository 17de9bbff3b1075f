#include "autosave.h"

#include "atomicfile.h"
#include "error.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QRandomGenerator>

#include <algorithm>

namespace tessarin {

namespace {

const QString kDocumentSuffix = QStringLiteral(".flw");
const QString kDescriptionSuffix = QStringLiteral(".json");
const QString kLockSuffix = QStringLiteral(".lock");

// The session a key belongs to: everything before its last '-'.
QString sessionOfKey(const QString &key)
{
    const qsizetype dash = key.lastIndexOf(QLatin1Char('-'));
    return dash > 0 ? key.left(dash) : QString();
}

// A lock that only a running process keeps: never taken over because of its age.
std::unique_ptr<QLockFile> makeLock(const QString &path)
{
    auto lock = std::make_unique<QLockFile>(path);
    lock->setStaleLockTime(0);
    return lock;
}

} // namespace

int parseAutosaveInterval(const QString &text)
{
    bool ok = false;
    const int ms = text.trimmed().toInt(&ok);
    return ok && ms >= 1 && ms <= MaxAutosaveIntervalMs ? ms : -1;
}

int autosaveIntervalFromEnvironment()
{
    const int ms = parseAutosaveInterval(qEnvironmentVariable("TESSARIN_AUTOSAVE_MS"));
    return ms > 0 ? ms : MaxAutosaveIntervalMs;
}

QString TRecoveryEntry::documentName() const
{
    return FileName.isEmpty() ? Caption : QDir::toNativeSeparators(FileName);
}

QString TRecoveryStore::defaultFolder()
{
    // Relative values are to be ignored, as for every XDG base directory.
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty() || QDir::isRelativePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return QDir::cleanPath(state + QStringLiteral("/tessarin/recovery"));
}

TRecoveryStore::TRecoveryStore(const QString &folder)
    : m_folder(QDir::cleanPath(folder))
{
    m_session = QStringLiteral("%1_%2")
                    .arg(QCoreApplication::applicationPid())
                    .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
    QDir().mkpath(m_folder);
    // Copies may hold confidential process data: for the user alone.
    QFile::setPermissions(m_folder,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    m_lock = makeLock(lockPath(m_session));
    m_lock->tryLock(0);
}

TRecoveryStore::~TRecoveryStore() = default;

bool TRecoveryStore::hasSession() const
{
    return m_lock->isLocked();
}

QString TRecoveryStore::lockPath(const QString &session) const
{
    return m_folder + QLatin1Char('/') + session + kLockSuffix;
}

QString TRecoveryStore::documentPath(const QString &key) const
{
    return m_folder + QLatin1Char('/') + key + kDocumentSuffix;
}

QString TRecoveryStore::newKey()
{
    return m_session + QLatin1Char('-') + QString::number(m_nextKey++);
}

void TRecoveryStore::write(const QString &key,
                           const QByteArray &document,
                           const QString &fileName,
                           const QString &caption)
{
    // Copies written without the session's lock would look abandoned to every other instance.
    if (!hasSession() && !(QDir().mkpath(m_folder) && m_lock->tryLock(0)))
        throw Error(QStringLiteral("recovery folder %1 cannot be written")
                        .arg(QDir::toNativeSeparators(m_folder)));
    QJsonObject description;
    description.insert(QStringLiteral("file"), fileName);
    description.insert(QStringLiteral("caption"), caption);
    description.insert(QStringLiteral("time"),
                       QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs));
    description.insert(QStringLiteral("pid"), QCoreApplication::applicationPid());
    // The description goes first: a crash between the two writes leaves it beside the
    // previous copy (or beside none), never a copy nobody can name.
    writeFileAtomically(m_folder + QLatin1Char('/') + key + kDescriptionSuffix,
                        QJsonDocument(description).toJson(QJsonDocument::Indented));
    writeFileAtomically(documentPath(key), document);
}

void TRecoveryStore::discard(const QString &key)
{
    QFile::remove(documentPath(key));
    QFile::remove(m_folder + QLatin1Char('/') + key + kDescriptionSuffix);
}

bool TRecoveryStore::contains(const QString &key) const
{
    return QFileInfo::exists(documentPath(key));
}

bool TRecoveryStore::adopt(const QString &session)
{
    if (m_adoptedSessions.contains(session))
        return true;
    auto lock = makeLock(lockPath(session));
    if (!lock->tryLock(0))
        return false;
    m_adopted.push_back(std::move(lock));
    m_adoptedSessions.append(session);
    return true;
}

QList<TRecoveryEntry> TRecoveryStore::recoverable()
{
    QList<TRecoveryEntry> entries;
    const QDir dir(m_folder);
    const QStringList descriptions = dir.entryList(
        {QLatin1Char('*') + kDescriptionSuffix}, QDir::Files | QDir::Hidden, QDir::Name);
    for (const QString &name : descriptions) {
        TRecoveryEntry entry;
        entry.Key = name.chopped(kDescriptionSuffix.size());
        const QString session = sessionOfKey(entry.Key);
        if (session.isEmpty() || session == m_session || !adopt(session))
            continue;
        const QString descriptionPath = dir.filePath(name);
        if (!QFileInfo::exists(documentPath(entry.Key))) {
            // Described but never written: the process ended between the two writes of its
            // first copy, so there is nothing to offer.
            QFile::remove(descriptionPath);
            continue;
        }
        entry.Time = QFileInfo(documentPath(entry.Key)).lastModified().toUTC();
        try {
            QJsonParseError error;
            const QJsonDocument json
                = QJsonDocument::fromJson(readWholeFile(descriptionPath), &error);
            if (!json.isObject())
                throw Error(error.error == QJsonParseError::NoError
                                ? QStringLiteral("no description object")
                                : error.errorString());
            const QJsonObject object = json.object();
            entry.FileName = object.value(QStringLiteral("file")).toString();
            entry.Caption = object.value(QStringLiteral("caption")).toString();
            entry.Pid = object.value(QStringLiteral("pid")).toInteger();
            const QDateTime time = QDateTime::fromString(
                object.value(QStringLiteral("time")).toString(), Qt::ISODateWithMs);
            if (time.isValid())
                entry.Time = time.toUTC();
        } catch (const Error &e) {
            entry.Caption = entry.Key;
            entry.Problem = QStringLiteral("the description %1 cannot be read: %2")
                                .arg(QDir::toNativeSeparators(descriptionPath), e.message());
        }
        entries.append(entry);
    }
    // Locks of ended sessions with nothing left to offer (a session that took over another and
    // then crashed leaves both) go.
    const QStringList locks
        = dir.entryList({QLatin1Char('*') + kLockSuffix}, QDir::Files | QDir::Hidden);
    for (const QString &name : locks) {
        const QString session = name.chopped(kLockSuffix.size());
        if (session == m_session || m_adoptedSessions.contains(session))
            continue;
        const std::unique_ptr<QLockFile> lock = makeLock(dir.filePath(name));
        if (lock->tryLock(0))
            lock->unlock();
    }
    std::stable_sort(entries.begin(), entries.end(), [](const auto &a, const auto &b) {
        return a.Time < b.Time;
    });
    return entries;
}

QByteArray TRecoveryStore::read(const TRecoveryEntry &entry) const
{
    const QString path = documentPath(entry.Key);
    QByteArray bytes = readWholeFile(path);
    if (bytes.isEmpty())
        throw Error(
            QStringLiteral("%1: the recovery copy is empty").arg(QDir::toNativeSeparators(path)));
    return bytes;
}

} // namespace tessarin
