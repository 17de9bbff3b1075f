#include "programupdate.h"

#include "error.h"
#include "tessarinversion.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <filesystem>
#include <system_error>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace tessarin {

namespace {

#ifdef Q_OS_WIN
const QString programSuffix = QStringLiteral(".exe");
#else
const QString programSuffix;
#endif

// Longest first line of a --version answer worth reading.
constexpr qint64 answerLimit = 256;

// Larger than any build of the program: such a file is refused before it is copied beside it.
constexpr qint64 programSizeLimit = qint64(512) << 20;

// A new file beside the program under a name of its own, removed again unless kept.
class PartFile : public QFile
{
public:
    explicit PartFile(const QString &dir)
    {
        // A name taken by another file is tried again; any other failure ends the attempts.
        for (int attempt = 0; attempt < 16 && !isOpen(); ++attempt) {
            setFileName(QDir(dir).filePath(
                QStringLiteral(".ATessarin-%1.part")
                    .arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0'))));
            if (!open(QIODevice::WriteOnly | QIODevice::NewOnly) && !exists())
                break;
        }
        m_created = isOpen();
    }
    ~PartFile() override
    {
        close();
        if (m_created && !m_kept)
            remove();
    }
    void keep() { m_kept = true; }

private:
    bool m_created = false;
    bool m_kept = false;
};

std::filesystem::path fsPath(const QString &path)
{
#ifdef Q_OS_WIN
    return std::filesystem::path(path.toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(path).toStdString());
#endif
}

} // namespace

bool ProgramVersion::parse(const QString &line, ProgramVersion &version)
{
    static const QRegularExpression pattern(
        QStringLiteral("^Tessarin (\\d{1,6})\\.(\\d{1,6})(?:\\.(\\d{1,6}))?$"));
    const auto m = pattern.match(line.trimmed());
    if (!m.hasMatch())
        return false;
    version = {
        m.captured(1).toInt(), m.captured(2).toInt(), m.hasCaptured(3) ? m.captured(3).toInt() : 0};
    return true;
}

QString ProgramVersion::toString() const
{
    return QStringLiteral("%1.%2.%3").arg(major).arg(minor).arg(patch);
}

ProgramVersion currentProgramVersion()
{
    return {TESSARIN_VERSION_MAJOR, TESSARIN_VERSION_MINOR, TESSARIN_VERSION_PATCH};
}

QString buildDate()
{
    // __DATE__ is "Mmm dd yyyy" with a space before a one-digit day.
    const QDate date = QDate::fromString(QString::fromLatin1(__DATE__).simplified(),
                                         QStringLiteral("MMM d yyyy"));
    return date.isValid() ? date.toString(Qt::ISODate) : QString::fromLatin1(__DATE__);
}

ProgramUpdate::ProgramUpdate(const QString &programDirectory, const ProgramVersion &current)
    : m_dir(QDir(programDirectory).absolutePath())
    , m_current(current)
{}

QString ProgramUpdate::programPath() const
{
    return QDir(m_dir).filePath(QStringLiteral("Tessarin") + programSuffix);
}

QString ProgramUpdate::replacementPath() const
{
    return QDir(m_dir).filePath(QStringLiteral("ATessarin") + programSuffix);
}

ProgramVersion ProgramUpdate::queryVersion(const QString &program, int timeoutMs)
{
    const QString name = QDir::toNativeSeparators(program);
    QProcess process;
    process.setProgram(program);
    process.setArguments({QStringLiteral("--version")});
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.setStandardErrorFile(QProcess::nullDevice());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // A program that opens windows must not show one for --version.
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(env);
    process.start(QIODevice::ReadWrite);
    if (!process.waitForStarted(timeoutMs))
        throw Error(QStringLiteral("%1 不是可运行的程序（%2）").arg(name, process.errorString()));
    process.closeWriteChannel();
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(timeoutMs);
        throw Error(QStringLiteral("%1 在 %2 秒内没有回答 --version，已停止")
                        .arg(name)
                        .arg(timeoutMs / 1000.0));
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        throw Error(
            QStringLiteral("%1 --version 运行失败（退出码 %2）").arg(name).arg(process.exitCode()));
    const QByteArray answer = process.readAllStandardOutput();
    const QString first
        = QString::fromUtf8(answer.left(answerLimit)).section(QLatin1Char('\n'), 0, 0).trimmed();
    ProgramVersion version;
    if (!ProgramVersion::parse(first, version))
        throw Error(QStringLiteral("%1 不是 Tessarin 程序：它对 --version 的回答是“%2”")
                        .arg(name, first.left(80)));
    return version;
}

ProgramVersion ProgramUpdate::install(const QString &candidate) const
{
    const QFileInfo info(candidate);
    const QString name = QDir::toNativeSeparators(candidate);
    if (!info.exists())
        throw Error(QStringLiteral("%1 不存在").arg(name));
    if (!info.isFile())
        throw Error(QStringLiteral("%1 不是文件").arg(name));
    if (info.size() > programSizeLimit)
        throw Error(QStringLiteral("%1 有 %2 MB，太大，不是 Tessarin 程序文件")
                        .arg(name)
                        .arg(info.size() >> 20));
    QFile source(candidate);
    if (!source.open(QIODevice::ReadOnly))
        throw Error(QStringLiteral("%1 无法读取：%2").arg(name, source.errorString()));

    // The copy is what gets checked and placed, so the file cannot change between the two.
    PartFile copy(m_dir);
    if (!copy.isOpen())
        throw Error(QStringLiteral("程序目录 %1 不可写：%2")
                        .arg(QDir::toNativeSeparators(m_dir), copy.errorString()));
    while (!source.atEnd()) {
        const QByteArray block = source.read(1 << 20);
        if (block.isEmpty() && source.error() != QFileDevice::NoError)
            throw Error(QStringLiteral("%1 读取失败：%2").arg(name, source.errorString()));
        if (copy.write(block) != block.size())
            throw Error(QStringLiteral("写入 %1 失败：%2")
                            .arg(QDir::toNativeSeparators(copy.fileName()), copy.errorString()));
    }
    if (!copy.flush())
        throw Error(QStringLiteral("写入 %1 失败：%2")
                        .arg(QDir::toNativeSeparators(copy.fileName()), copy.errorString()));
#ifdef Q_OS_UNIX
    if (::fsync(copy.handle()) != 0)
        throw Error(QStringLiteral("写入 %1 失败：磁盘同步失败")
                        .arg(QDir::toNativeSeparators(copy.fileName())));
#endif
    copy.close(); // a file still open for writing cannot be executed
    copy.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                        | QFileDevice::ReadGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther
                        | QFileDevice::ExeOther);

    ProgramVersion version;
    try {
        version = queryVersion(copy.fileName(), m_timeoutMs);
    } catch (const Error &e) {
        // Name the file the user chose, not our temporary copy.
        QString message = e.message();
        message.replace(QDir::toNativeSeparators(copy.fileName()), name);
        throw Error(message);
    }
    if (!(m_current < version))
        throw Error(QStringLiteral("%1 是 Tessarin %2，不高于当前版本 %3")
                        .arg(name, version.toString(), m_current.toString()));

    std::error_code ec;
    std::filesystem::rename(fsPath(copy.fileName()), fsPath(replacementPath()), ec);
    if (ec)
        throw Error(QStringLiteral("无法放置 %1：%2")
                        .arg(QDir::toNativeSeparators(replacementPath()),
                             QString::fromLocal8Bit(ec.message().c_str())));
    copy.keep();
    return version;
}

} // namespace tessarin
