#pragma once

#include <QLibrary>
#include <QString>

#include <memory>

namespace tessarin {

// A companion library loaded from the program directory by its Windows name ("scriptrt.dll"),
// with entries looked up by their Windows names. Unloaded when destroyed.
class DynamicLibrary
{
public:
    DynamicLibrary() = default;
    ~DynamicLibrary();
    DynamicLibrary(const DynamicLibrary &) = delete;
    DynamicLibrary &operator=(const DynamicLibrary &) = delete;

    // The platform file that stands for a Windows library name, in the program directory:
    // "scriptrt.dll" -> "<dir>/libscriptrt.so" on Linux, "<dir>/scriptrt.dll" on Windows.
    static QString platformFileName(const QString &windowsName);

    // The platform symbol for a Windows entry name: the stdcall decoration ("@8") is kept on
    // 32-bit Windows and dropped elsewhere.
    static QByteArray platformEntryName(const QByteArray &windowsEntry);

    // Loads the library; false (with errorString()) when it is missing or cannot be loaded.
    bool load(const QString &windowsName);
    bool isLoaded() const;
    void unload();

    // The entry's address, or nullptr when the library is not loaded or lacks the entry.
    void *resolve(const QByteArray &windowsEntry) const;

    QString fileName() const { return m_fileName; }
    QString errorString() const { return m_error; }

private:
    std::unique_ptr<QLibrary> m_lib;
    QString m_fileName;
    QString m_error;
};

} // namespace tessarin
