#pragma once

#include "qztranslate.h"

#include <QString>

#include <functional>
#include <memory>
#include <vector>

// Evaluation of formulas and programs through the script interpreter library: one compiler per
// run owns the run's name-to-value dictionary and the loaded library.
namespace tessarin {

#if defined(_WIN32) && !defined(_WIN64)
#define TESSARIN_SCRIPT_CALL __stdcall
#else
#define TESSARIN_SCRIPT_CALL
#endif

// One pair reported by a program through ExportDouble.
class TqzExportValue
{
public:
    QString Name;
    QString Value;
};

class ScriptLibrary;

// `text` with the letters A to Z lowered, as the interpreter is handed every expression (names
// in other scripts have no case to lose).
QString lowerAscii(const QString &text);

class TqzComplier
{
public:
    // Loads "scriptrt.dll" from the program directory; only when every entry point is there is
    // the interpreter initialised and "project.h" (beside the program) included. A missing
    // library or entry is silent here and reported by every later evaluation.
    TqzComplier();
    // Finishes the interpreter and unloads the library.
    virtual ~TqzComplier();
    TqzComplier(const TqzComplier &) = delete;
    TqzComplier &operator=(const TqzComplier &) = delete;

    // Translates Source with Dictionary, then executes it when it has "main", else evaluates it
    // (the value is not kept). Returns Succeeded.
    virtual bool Compile();

    // True when Source contains "main" anywhere, letter case significant.
    bool HasMain() const;
    // `dictionary`.Translate(text): throws Error when the text grows past the formula limit.
    QString Translate(const TqzTranslate &dictionary, const QString &text) const;
    // Evaluates an expression (every letter lower-cased first, literals included). On success the
    // result is the library's text unchanged; on failure it is empty and ErrorText holds the
    // library's message. A result that reads as -0.1010101 counts as a failure.
    QString Evaluate(const QString &expression);
    // Runs a program text that defines main(); its exported pairs land in Exports. An export
    // whose name could not stand in a "name=value|" record (empty, or holding "=", "|" or a
    // control character) or whose value is not finite fails the run, naming the export.
    void Execute(const QString &program);
    // Fills Exports from "NAME=VALUE|NAME=VALUE|..."; an item without "=" ends the list, a tail
    // without "|" is ignored. Empties ExportBuffer afterwards.
    void ParseExports(const QString &text);

    // Called about every tenth of a second while a formula or program runs (on the calling
    // thread); when it returns true the script stops and the evaluation fails, saying so.
    // Without it (or with a library that cannot call it) a script runs to its end or budget.
    void setStopCheck(std::function<bool()> check);

    // Whether the library and all its entry points were found; why not, when they were not.
    bool isBound() const;
    QString bindError() const;

    QString Source;
    std::vector<TqzExportValue> Exports;
    qint32 ErrorPos = -1; // -1 after success; 0 after a failed expression; else the line
    QString ErrorText;    // empty after success
    bool Succeeded = false;
    TqzTranslate Dictionary; // the run's name-to-value table

private:
    void fail(qint32 pos, const QString &text);
    void succeed();
    // Fails (true) when the library is not bound or `text` cannot be passed to it whole.
    bool refuse(const QString &text, bool program = false);
    void fetchError();
    // Hands the stop check to the library for one evaluation; the guard takes it back.
    class PollGuard;

    std::unique_ptr<ScriptLibrary> m_library;
    std::function<bool()> m_stopCheck;
};

// The text the ExportDouble callback appends to: "NAME=VALUE|" per call. Shared by every
// compiler; emptied before each program run and after each parse.
QString &ExportBuffer();

// The callback handed to the interpreter under "void ExportDouble(char*,double)": appends the
// name (UTF-8), "=", the value in formatGeneral() form and "|" to ExportBuffer. A pair that
// cannot be written so is left out and remembered; Execute then fails.
void TESSARIN_SCRIPT_CALL ExportDouble(char *name, double value);

} // namespace tessarin
