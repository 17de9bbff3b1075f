#include "dynlib.h"

#include "programdir.h"

#include <QFileInfo>

namespace tessarin {

DynamicLibrary::~DynamicLibrary()
{
    unload();
}

QString DynamicLibrary::platformFileName(const QString &windowsName)
{
    QString base = QFileInfo(windowsName).fileName();
    if (base.endsWith(QLatin1String(".dll"), Qt::CaseInsensitive))
        base.chop(4);
#if defined(Q_OS_WIN)
    return programPath(base + QLatin1String(".dll"));
#elif defined(Q_OS_MACOS)
    return programPath(QLatin1String("lib") + base + QLatin1String(".dylib"));
#else
    return programPath(QLatin1String("lib") + base + QLatin1String(".so"));
#endif
}

QByteArray DynamicLibrary::platformEntryName(const QByteArray &windowsEntry)
{
#if defined(Q_OS_WIN) && !defined(Q_OS_WIN64)
    return windowsEntry;
#else
    const qsizetype at = windowsEntry.lastIndexOf('@');
    if (at > 0) {
        bool digits = at + 1 < windowsEntry.size();
        for (qsizetype i = at + 1; i < windowsEntry.size(); ++i)
            digits = digits && windowsEntry.at(i) >= '0' && windowsEntry.at(i) <= '9';
        if (digits)
            return windowsEntry.left(at);
    }
    return windowsEntry;
#endif
}

bool DynamicLibrary::load(const QString &windowsName)
{
    unload();
    m_fileName = platformFileName(windowsName);
    if (!QFileInfo::exists(m_fileName)) {
        m_error = QStringLiteral("%1 not found (looked for %2)").arg(windowsName, m_fileName);
        return false;
    }
    auto lib = std::make_unique<QLibrary>(m_fileName);
    if (!lib->load()) {
        m_error = QStringLiteral("%1 could not be loaded from %2: %3")
                      .arg(windowsName, m_fileName, lib->errorString());
        return false;
    }
    m_lib = std::move(lib);
    m_error.clear();
    return true;
}

bool DynamicLibrary::isLoaded() const
{
    return m_lib && m_lib->isLoaded();
}

void DynamicLibrary::unload()
{
    if (m_lib) {
        m_lib->unload();
        m_lib.reset();
    }
}

void *DynamicLibrary::resolve(const QByteArray &windowsEntry) const
{
    if (!isLoaded())
        return nullptr;
    return reinterpret_cast<void *>(m_lib->resolve(platformEntryName(windowsEntry).constData()));
}

} // namespace tessarin
