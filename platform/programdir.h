#pragma once

#include <QString>

namespace tessarin {

// The directory of the program's executable: where modules, project.h, help/ and exam/ live.
// Tests and tools that run from elsewhere point it at the build's program folder.
QString programDirectory();
void setProgramDirectory(const QString &dir);

// programDirectory() joined with a relative path (either separator accepted).
QString programPath(const QString &relative);

} // namespace tessarin
