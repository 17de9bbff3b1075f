#pragma once

#include <QString>

#include <compare>

class QIODevice;

// The offline update of the program file: a candidate file is read for the build identity of
// ours and, when it is a newer Tessarin, placed beside the program under the replacement's name.
// Nothing of a candidate is ever run.
namespace tessarin {

struct ProgramVersion
{
    int major = 0;
    int minor = 0;
    int patch = 0;

    // "Tessarin 1.2.3" or "Tessarin 1.2" (a missing patch is 0); false for anything else.
    static bool parse(const QString &line, ProgramVersion &version);
    QString toString() const;
    auto operator<=>(const ProgramVersion &) const = default;
};

// This program's own version.
ProgramVersion currentProgramVersion();
// The day this library was compiled, "yyyy-MM-dd".
QString buildDate();

class ProgramUpdate
{
public:
    ProgramUpdate(const QString &programDirectory, const ProgramVersion &current);

    // The program file and its replacement: <dir>/Tessarin and <dir>/ATessarin (".exe" on
    // Windows).
    QString programPath() const;
    QString replacementPath() const;

    // Copies `candidate` into a temporary file in the program directory, reads the copy's build
    // identity, and when it is a Tessarin newer than the current version renames it over the
    // replacement. Returns the candidate's version. Throws Error saying why otherwise; then
    // nothing is left behind and an existing replacement is untouched.
    ProgramVersion install(const QString &candidate) const;

    // The version in the build identity of the ELF program in `file` (open for reading), read
    // without running it and in bounded reads: an executable for this machine whose section
    // TESSARIN_BUILD_ID_SECTION holds "TESSARIN-BUILD-ID:Tessarin X.Y.Z". Throws Error naming
    // `name` and saying what the file is instead.
    static ProgramVersion readBuildIdentity(QIODevice &file, const QString &name);

private:
    QString m_dir;
    ProgramVersion m_current;
};

} // namespace tessarin
