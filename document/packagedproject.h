#pragma once
// The packaged project of a calculation module: the module is loaded from the program
// directory, asked once through its GetFLW entry, and unloaded again.
#include <QByteArray>
#include <QString>

namespace tessarin {

// The document GetFLW of `windowsName` ("calcpack.dll" -> libcalcpack.so in the program
// directory) writes. A missing library or entry gives an empty array; `why`, when given, then
// says which and where it was looked for (the program itself stays silent about it).
QByteArray LoadPackagedProject(const QString &windowsName = QStringLiteral("calcpack.dll"),
                               QString *why = nullptr);

} // namespace tessarin
