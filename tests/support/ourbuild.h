#pragma once
// Program files of ours for the update tests: the program as built (TESSARIN_PROGRAM), and copies
// of it whose build identity names another version.
#include "programupdate.h"

#include <QByteArray>
#include <QFile>

namespace tessarin::test {

// The program as built; empty when it cannot be read.
inline const QByteArray &programBuild()
{
    static const QByteArray bytes = [] {
        QFile f(QStringLiteral(TESSARIN_PROGRAM));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();
    return bytes;
}

// `bytes` with `with` written over it at `offset`.
inline QByteArray patched(QByteArray bytes, qsizetype offset, const QByteArray &with)
{
    bytes.replace(offset, with.size(), with);
    return bytes;
}

// The program as built with another identity text after the prefix ("Tessarin 2.0.0"), padded
// with NULs to the length of the real one; empty when it does not fit.
inline QByteArray buildWithIdentity(const QByteArray &identity)
{
    const QByteArray prefix = "TESSARIN-BUILD-ID:";
    const QByteArray real
        = prefix + "Tessarin " + currentProgramVersion().toString().toLatin1() + '\0';
    const qsizetype at = programBuild().indexOf(real);
    QByteArray text = prefix + identity;
    if (at < 0 || text.size() >= real.size())
        return QByteArray();
    text.append(real.size() - text.size(), '\0');
    return patched(programBuild(), at, text);
}

inline QByteArray buildOfVersion(const char *version)
{
    return buildWithIdentity(QByteArray("Tessarin ") + version);
}

} // namespace tessarin::test
