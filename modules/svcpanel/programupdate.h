#pragma once

#include <QString>

#include <compare>

// The offline update of the program file: a candidate file is asked for its version and, when it
// is a newer Tessarin, placed beside the program under the replacement's name.
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

    // How long a candidate may take to answer --version, ms.
    void setTimeout(int ms) { m_timeoutMs = ms; }

    // Copies `candidate` into a temporary file in the program directory, runs the copy with
    // --version, and when it answers as a Tessarin newer than the current version renames it over
    // the replacement. Returns the candidate's version. Throws Error saying why otherwise; then
    // nothing is left behind and an existing replacement is untouched.
    ProgramVersion install(const QString &candidate) const;

    // Runs `program --version` (standard input closed, killed after `timeoutMs`) and reads the
    // first line of its answer. Throws Error when it does not start, fails, times out or does not
    // answer as a Tessarin program.
    static ProgramVersion queryVersion(const QString &program, int timeoutMs);

private:
    QString m_dir;
    ProgramVersion m_current;
    int m_timeoutMs = 10000;
};

} // namespace tessarin
