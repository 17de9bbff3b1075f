#pragma once

// Loading the workbook of a project file for the workbook commands of tessarin-cli: the pages
// are the workbook model's, and pages that could not be loaded are reported on standard error as
// warnings (they stay empty; the other pages load).

#include "atomicfile.h"
#include "qzworkbook.h"

#include <QByteArray>
#include <QString>

#include <cstdio>
#include <memory>

namespace tessarin::cli {

struct LoadedWorkbook
{
    QByteArray bytes; // the project file as read
    TqzWorkbook workbook;
};

inline std::unique_ptr<LoadedWorkbook> loadWorkbook(const QString &file, const QString &command)
{
    auto loaded = std::make_unique<LoadedWorkbook>();
    loaded->bytes = readWholeFile(file);
    loaded->workbook.LoadFromStream(loaded->bytes, file == QLatin1String("-")
                                                       ? QStringLiteral("standard input")
                                                       : file);
    for (const QString &error : loaded->workbook.loadErrors())
        std::fputs(QStringLiteral("tessarin-cli: %1: warning: %2\n")
                       .arg(command, error)
                       .toUtf8()
                       .constData(),
                   stderr);
    return loaded;
}

} // namespace tessarin::cli
