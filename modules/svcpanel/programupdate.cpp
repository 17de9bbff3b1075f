#include "programupdate.h"

#include "buildidentity.h"
#include "error.h"
#include "tessarinversion.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <cstring>
#include <filesystem>
#include <system_error>

#include <elf.h>
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

namespace {

// The machine this library is built for, as ELF names it; 0 where not listed (not checked).
constexpr unsigned hostMachine()
{
#if defined(__x86_64__)
    return EM_X86_64;
#elif defined(__i386__)
    return EM_386;
#elif defined(__aarch64__)
    return EM_AARCH64;
#elif defined(__arm__)
    return EM_ARM;
#elif defined(__riscv)
    return EM_RISCV;
#elif defined(__powerpc64__)
    return EM_PPC64;
#elif defined(__s390x__)
    return EM_S390;
#else
    return 0;
#endif
}

// Longest section-name table and identity text worth reading; real ones are a few hundred bytes.
constexpr quint64 nameTableLimit = quint64(1) << 20;
constexpr quint64 identityLimit = 256;

// `length` bytes at `offset`, or an empty array when the file ends before.
QByteArray readAt(QIODevice &file, quint64 offset, quint64 length)
{
    const auto size = quint64(file.size());
    if (offset > size || length > size - offset || !file.seek(qint64(offset)))
        return QByteArray();
    QByteArray bytes = file.read(qint64(length));
    return quint64(bytes.size()) == length ? bytes : QByteArray();
}

template<typename T>
T fieldsAt(const QByteArray &bytes, qsizetype offset)
{
    T value;
    std::memcpy(&value, bytes.constData() + offset, sizeof value);
    return value;
}

// The identity in an ELF file of this machine's class and byte order (Ehdr/Shdr of <elf.h>).
template<typename Ehdr, typename Shdr>
ProgramVersion readIdentity(QIODevice &file, const QString &name)
{
    const auto damaged = [&name](const char *what) {
        return Error(QStringLiteral("%1 不完整或已损坏（%2），不是可用的 Tessarin 程序文件")
                         .arg(name, QString::fromUtf8(what)));
    };
    const QByteArray head = readAt(file, 0, sizeof(Ehdr));
    if (head.isEmpty())
        throw damaged("文件头不完整");
    const auto eh = fieldsAt<Ehdr>(head, 0);
    if (eh.e_machine != hostMachine() && hostMachine() != 0)
        throw Error(QStringLiteral("%1 是为其他处理器构建的程序（ELF 机器类型 %2），不能在本机运行")
                        .arg(name)
                        .arg(eh.e_machine));
    if ((eh.e_type != ET_EXEC && eh.e_type != ET_DYN) || eh.e_phnum == 0)
        throw Error(QStringLiteral("%1 不是可执行程序（ELF 文件类型 %2），不是 Tessarin 程序文件")
                        .arg(name)
                        .arg(eh.e_type));
    if (eh.e_shoff == 0 || eh.e_shnum == 0 || eh.e_shstrndx == SHN_UNDEF)
        throw Error(QStringLiteral("%1 没有节表，读不到 Tessarin 的构建标识").arg(name));
    if (eh.e_shentsize != sizeof(Shdr) || eh.e_shstrndx >= eh.e_shnum)
        throw damaged("节表头不一致");
    // At most 65535 entries of 64 bytes: the table is read whole.
    const QByteArray table = readAt(file, eh.e_shoff, quint64(eh.e_shnum) * sizeof(Shdr));
    if (table.isEmpty())
        throw damaged("节表超出文件末尾");
    const auto section = [&table](unsigned i) { return fieldsAt<Shdr>(table, i * sizeof(Shdr)); };
    const Shdr namesHeader = section(eh.e_shstrndx);
    if (namesHeader.sh_type != SHT_STRTAB || namesHeader.sh_size > nameTableLimit)
        throw damaged("节名表不一致");
    const QByteArray names = readAt(file, namesHeader.sh_offset, namesHeader.sh_size);
    if (names.isEmpty())
        throw damaged("节名表超出文件末尾");
    const QByteArray wanted(TESSARIN_BUILD_ID_SECTION);
    int found = -1;
    for (unsigned i = 0; i < eh.e_shnum; ++i) {
        const quint64 at = section(i).sh_name;
        if (at < quint64(names.size())
            && names.mid(qsizetype(at), wanted.size() + 1) == wanted + '\0') {
            if (found >= 0)
                throw damaged("构建标识出现两次");
            found = int(i);
        }
    }
    if (found < 0)
        throw Error(
            QStringLiteral("%1 不是 Tessarin 程序文件：其中没有 Tessarin 的构建标识").arg(name));
    const Shdr idHeader = section(unsigned(found));
    if (idHeader.sh_type != SHT_PROGBITS || idHeader.sh_size > identityLimit)
        throw damaged("构建标识的节不一致");
    const QByteArray content = readAt(file, idHeader.sh_offset, idHeader.sh_size);
    const qsizetype end = content.indexOf('\0');
    if (end < 0)
        throw damaged("构建标识不完整");
    const QByteArray text = content.left(end);
    const QByteArray prefix(TESSARIN_BUILD_ID_PREFIX);
    ProgramVersion version;
    if (!text.startsWith(prefix)
        || !ProgramVersion::parse(QString::fromLatin1(text.mid(prefix.size())), version))
        throw Error(QStringLiteral("%1 的构建标识“%2”无法识别")
                        .arg(name, QString::fromLatin1(text.left(80))));
    return version;
}

} // namespace

ProgramVersion ProgramUpdate::readBuildIdentity(QIODevice &file, const QString &name)
{
    const QByteArray ident = readAt(file, 0, EI_NIDENT);
    if (ident.isEmpty() || !ident.startsWith(ELFMAG)) {
        if (file.seek(0) && file.peek(2) == "#!")
            throw Error(QStringLiteral("%1 是脚本，不是 Tessarin 程序文件").arg(name));
        throw Error(
            QStringLiteral("%1 不是可执行程序（不是 ELF 文件），不是 Tessarin 程序文件").arg(name));
    }
    constexpr int hostClass = sizeof(void *) == 8 ? ELFCLASS64 : ELFCLASS32;
    constexpr int hostData = Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? ELFDATA2LSB : ELFDATA2MSB;
    if (ident.at(EI_CLASS) != hostClass || ident.at(EI_DATA) != hostData
        || ident.at(EI_VERSION) != EV_CURRENT)
        throw Error(QStringLiteral("%1 是为其他处理器或系统构建的程序，不能在本机运行").arg(name));
    if constexpr (hostClass == ELFCLASS64)
        return readIdentity<Elf64_Ehdr, Elf64_Shdr>(file, name);
    else
        return readIdentity<Elf32_Ehdr, Elf32_Shdr>(file, name);
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
    // A file that is no build of ours is refused before anything is copied.
    readBuildIdentity(source, name);
    if (!source.seek(0))
        throw Error(QStringLiteral("%1 读取失败：%2").arg(name, source.errorString()));

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

    QFile placed(copy.fileName());
    if (!placed.open(QIODevice::ReadOnly))
        throw Error(QStringLiteral("%1 无法读取：%2")
                        .arg(QDir::toNativeSeparators(copy.fileName()), placed.errorString()));
    const ProgramVersion version = readBuildIdentity(placed, name);
    placed.close();
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
