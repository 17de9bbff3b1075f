#pragma once

#include <QString>

namespace tessarin {

// The directory of the program's executable: where modules, project.h, help/ and exam/ live.
// Tests and tools that run from elsewhere point it at the build's program folder.
QString programDirectory();
void setProgramDirectory(const QString &dir);

// programDirectory() joined with a relative path (either separator accepted).
QString programPath(const QString &relative);

// Where the program keeps `relative` (a folder or file it writes, such as "exam"): beside the
// program as programPath() while the program directory lets it be written there, else in the
// user's data folder (QStandardPaths::AppDataLocation, the XDG data home on Linux), where an
// installed program can write. A file standing where the folder belongs stays the answer, so
// that whoever uses it reports the problem.
QString writablePath(const QString &relative);
// True when `path` lies in the program directory.
bool isBesideProgram(const QString &path);

} // namespace tessarin
