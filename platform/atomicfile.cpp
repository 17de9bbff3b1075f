#include "atomicfile.h"

#include "error.h"

#include <QFile>
#include <QSaveFile>

#include <cstdio>

namespace tessarin {

void writeFileAtomically(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw Error(QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
    if (file.write(bytes) != bytes.size()) {
        const QString why = file.errorString();
        file.cancelWriting();
        throw Error(QStringLiteral("cannot write %1: %2").arg(path, why));
    }
    if (!file.commit())
        throw Error(QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
}

QByteArray readWholeFile(const QString &path)
{
    QFile file;
    if (path == QLatin1String("-")) {
        if (!file.open(stdin, QIODevice::ReadOnly))
            throw Error(QStringLiteral("cannot read standard input: %1").arg(file.errorString()));
    } else {
        file.setFileName(path);
        if (!file.open(QIODevice::ReadOnly))
            throw Error(QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
    }
    QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw Error(QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
    return data;
}

} // namespace tessarin
