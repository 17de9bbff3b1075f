#include "qzcomplier.h"

#include "dynlib.h"
#include "error.h"
#include "numbertext.h"
#include "programdir.h"

#include <QByteArray>

#include <array>
#include <cmath>
#include <vector>

namespace tessarin {

// The interpreter library and its 21 entry points, looked up by their Windows names. Bound only
// when the library loaded and every entry was found.
class ScriptLibrary
{
public:
    using InitFn = int(TESSARIN_SCRIPT_CALL *)(int, int);
    using FinisFn = void(TESSARIN_SCRIPT_CALL *)();
    using IncludeFn = int(TESSARIN_SCRIPT_CALL *)(const char *);
    using EvalFn = int(TESSARIN_SCRIPT_CALL *)(const char *, char *, int);
    using ImportFn = int(TESSARIN_SCRIPT_CALL *)(const char *, void *);
    using RunFn = int(TESSARIN_SCRIPT_CALL *)();
    using ExecFn = int(TESSARIN_SCRIPT_CALL *)(const char *);
    using ErrorFn = int(TESSARIN_SCRIPT_CALL *)(char *, int);
    using ErrorPosFn = int(TESSARIN_SCRIPT_CALL *)(char *);
    using ResultFn = int(TESSARIN_SCRIPT_CALL *)(char *, int);
    using PollFn = int(TESSARIN_SCRIPT_CALL *)();
    using SetPollFn = void(TESSARIN_SCRIPT_CALL *)(PollFn);

    enum Entry {
        Init,
        Finis,
        Main,
        Include,
        InteractiveLoop,
        MainWindow,
        Load,
        Run,
        Exec,
        Result,
        Error,
        ErrorPos,
        Eval,
        SetQuote,
        InitRef,
        CompileEntry,
        EvalArgs,
        EvalMethodArgs,
        EvalExp,
        CompileFn,
        Import,
        EntryCount
    };

    ScriptLibrary()
    {
        static const char *const names[EntryCount] = {"_uc_init@8",
                                                      "_uc_finis@0",
                                                      "_uc_main@8",
                                                      "_uc_include@4",
                                                      "_uc_interactive_loop@0",
                                                      "_uc_main_window@0",
                                                      "_uc_load@4",
                                                      "_uc_run@0",
                                                      "_uc_exec@4",
                                                      "_uc_result@8",
                                                      "_uc_error@8",
                                                      "_uc_error_pos@4",
                                                      "_uc_eval@12",
                                                      "_uc_set_quote@8",
                                                      "_uc_init_ref@12",
                                                      "_uc_compile@8",
                                                      "uc_eval_args",
                                                      "uc_eval_method_args",
                                                      "_uc_eval_exp@12",
                                                      "_uc_compile_fn@8",
                                                      "_uc_import@8"};
        const QString libraryName = QStringLiteral("scriptrt.dll");
        if (!m_dll.load(libraryName)) {
            m_error = QStringLiteral("the script library could not be loaded: %1")
                          .arg(m_dll.errorString());
            return;
        }
        QStringList missing;
        for (int i = 0; i < EntryCount; ++i) {
            m_entries[static_cast<size_t>(i)] = m_dll.resolve(QByteArray(names[i]));
            if (!m_entries[static_cast<size_t>(i)])
                missing << QString::fromLatin1(names[i]);
        }
        if (!missing.isEmpty()) {
            m_error = QStringLiteral("the script library %1 lacks the entry point(s) %2")
                          .arg(m_dll.fileName(), missing.join(QStringLiteral(", ")));
            return;
        }
        m_bound = true;
        // Not one of the required entries: a library without it cannot be stopped mid-script.
        m_setPoll = reinterpret_cast<SetPollFn>(m_dll.resolve(QByteArrayLiteral("_uc_set_poll@4")));
        entry<InitFn>(Init)(0, 0);
        const QString header = programPath(QStringLiteral("project.h"));
        entry<IncludeFn>(Include)(header.toLocal8Bit().constData());
    }

    ~ScriptLibrary()
    {
        // Only an interpreter that was initialised is finished: the library counts its users.
        if (m_bound)
            entry<FinisFn>(Finis)();
        m_dll.unload();
    }

    template<typename F>
    F entry(Entry e) const
    {
        return reinterpret_cast<F>(m_entries[static_cast<size_t>(e)]);
    }

    bool bound() const { return m_bound; }
    QString error() const { return m_error; }
    SetPollFn setPoll() const { return m_setPoll; }

private:
    SetPollFn m_setPoll = nullptr;
    DynamicLibrary m_dll;
    std::array<void *, EntryCount> m_entries{};
    bool m_bound = false;
    QString m_error;
};

QString lowerAscii(const QString &text)
{
    QString out = text;
    for (QChar &c : out)
        if (c.unicode() >= u'A' && c.unicode() <= u'Z')
            c = QChar(c.unicode() + (u'a' - u'A'));
    return out;
}

namespace {

constexpr int kResultSize = 64;
constexpr int kErrorSize = 250;

} // namespace

QString &ExportBuffer()
{
    static QString buffer;
    return buffer;
}

namespace {

// Why the first export of the running program was refused; empty while none was. A refused
// export fails the whole run, as a "name=value|" record it would have corrupted the rest.
QString &exportFault()
{
    static QString fault;
    return fault;
}

// Why `name` cannot stand in a "name=value|" record, or an empty text when it can.
QString exportNameFault(const QString &name)
{
    if (name.isEmpty())
        return QStringLiteral("the name is empty");
    for (QChar c : name) {
        const char16_t u = c.unicode();
        if (u == u'=' || u == u'|')
            return QStringLiteral("the name holds \"%1\"").arg(c);
        if (u < 0x20 || u == 0x7F || u == 0x85 || u == 0x2028 || u == 0x2029)
            return QStringLiteral("the name holds the control character U+%1")
                .arg(QString::number(u, 16).toUpper().rightJustified(4, QLatin1Char('0')));
    }
    return {};
}

} // namespace

void TESSARIN_SCRIPT_CALL ExportDouble(char *name, double value)
{
    const QString text = QString::fromUtf8(name ? name : "");
    QString fault = exportNameFault(text);
    if (fault.isEmpty() && !std::isfinite(value))
        fault = QStringLiteral("the value is not a finite number");
    if (!fault.isEmpty()) {
        if (exportFault().isEmpty()) {
            QString shown = text;
            for (QChar &c : shown)
                if (c.unicode() < 0x20 || c.unicode() == 0x7F)
                    c = QChar(0xFFFD);
            exportFault() = QStringLiteral("export \"%1\" refused: %2").arg(shown, fault);
        }
        return;
    }
    QString &buffer = ExportBuffer();
    buffer += text;
    buffer += QLatin1Char('=');
    buffer += formatGeneral(value);
    buffer += QLatin1Char('|');
}

namespace {

// The stop check of the compiler whose script is running; the library's poll has no argument.
const std::function<bool()> *g_activeStopCheck = nullptr;

int TESSARIN_SCRIPT_CALL pollActiveStopCheck()
{
    return g_activeStopCheck && *g_activeStopCheck && (*g_activeStopCheck)() ? 1 : 0;
}

} // namespace

class TqzComplier::PollGuard
{
public:
    explicit PollGuard(const TqzComplier &c)
        : m_setPoll(c.m_stopCheck ? c.m_library->setPoll() : nullptr)
        , m_previous(g_activeStopCheck)
    {
        if (!m_setPoll)
            return;
        g_activeStopCheck = &c.m_stopCheck;
        m_setPoll(&pollActiveStopCheck);
    }
    ~PollGuard()
    {
        if (!m_setPoll)
            return;
        g_activeStopCheck = m_previous;
        // A script of another compiler may still be running further out (a nested evaluation).
        m_setPoll(m_previous ? &pollActiveStopCheck : nullptr);
    }
    PollGuard(const PollGuard &) = delete;
    PollGuard &operator=(const PollGuard &) = delete;

private:
    ScriptLibrary::SetPollFn m_setPoll;
    const std::function<bool()> *m_previous;
};

TqzComplier::TqzComplier()
    : m_library(std::make_unique<ScriptLibrary>())
{}

void TqzComplier::setStopCheck(std::function<bool()> check)
{
    m_stopCheck = std::move(check);
}

TqzComplier::~TqzComplier() = default;

bool TqzComplier::isBound() const
{
    return m_library->bound();
}

QString TqzComplier::bindError() const
{
    return m_library->error();
}

bool TqzComplier::HasMain() const
{
    return Source.contains(QLatin1String("main"), Qt::CaseSensitive);
}

QString TqzComplier::Translate(const TqzTranslate &dictionary, const QString &text) const
{
    return dictionary.Translate(text, kMaxFormulaLength);
}

void TqzComplier::fail(qint32 pos, const QString &text)
{
    Succeeded = false;
    ErrorPos = pos;
    ErrorText = text;
}

void TqzComplier::succeed()
{
    Succeeded = true;
    ErrorPos = -1;
    ErrorText.clear();
}

bool TqzComplier::refuse(const QString &text, bool program)
{
    if (!m_library->bound()) {
        fail(0, m_library->error());
        return true;
    }
    // The library reads NUL-terminated texts: an embedded NUL would silently cut the formula or
    // program short and give the value of its first part.
    const qsizetype nul = text.indexOf(QChar(u'\0'));
    if (nul < 0)
        return false;
    // A formula's error text must never read as a number; a program's is shown after its
    // position and needs no mark.
    fail(0,
         QStringLiteral("%1the text holds a NUL character at position %2")
             .arg(program ? QString() : QStringLiteral("error: "))
             .arg(nul + 1));
    return true;
}

QString TqzComplier::Evaluate(const QString &expression)
{
    if (refuse(expression))
        return QString();
    const QByteArray text = lowerAscii(expression).toUtf8();
    char result[kResultSize] = {};
    {
        const PollGuard poll(*this);
        m_library->entry<ScriptLibrary::EvalFn>(ScriptLibrary::Eval)(
            text.constData(), result, kResultSize);
    }
    result[kResultSize - 1] = '\0';
    const QString written = QString::fromUtf8(result);
    if (isNumberText(written)) {
        succeed();
        return written;
    }
    // The result buffer holds 63 bytes, cut at a character boundary; the whole message is read
    // from the library's copy of its last result, as long as it needs.
    QString message = written;
    const auto resultFn = m_library->entry<ScriptLibrary::ResultFn>(ScriptLibrary::Result);
    const int needed = resultFn(nullptr, 0);
    if (needed > kResultSize - 1) {
        std::vector<char> full(static_cast<size_t>(needed) + 1, '\0');
        resultFn(full.data(), needed);
        const QString whole = QString::fromUtf8(full.data());
        if (whole.startsWith(written))
            message = whole;
    }
    fail(0, message);
    return QString();
}

void TqzComplier::fetchError()
{
    // The library returns the message's whole length: a longer one is fetched again whole.
    const auto errorFn = m_library->entry<ScriptLibrary::ErrorFn>(ScriptLibrary::Error);
    std::vector<char> buffer(kErrorSize, '\0');
    const int length = errorFn(buffer.data(), kErrorSize);
    if (length >= kErrorSize) {
        buffer.assign(static_cast<size_t>(length) + 1, '\0');
        errorFn(buffer.data(), length + 1);
    }
    const int pos
        = m_library->entry<ScriptLibrary::ErrorPosFn>(ScriptLibrary::ErrorPos)(buffer.data());
    buffer.back() = '\0';
    fail(pos, QString::fromUtf8(buffer.data()));
}

void TqzComplier::Execute(const QString &program)
{
    Exports.clear();
    if (refuse(program, true))
        return;
    const QLatin1String callback("ExportDouble");
    if (Source.contains(callback) || program.contains(callback))
        m_library->entry<ScriptLibrary::ImportFn>(ScriptLibrary::Import)(
            "void ExportDouble(char*,double)", reinterpret_cast<void *>(&ExportDouble));
    ExportBuffer().clear();
    exportFault().clear();
    const QByteArray text = program.toUtf8();
    if (!m_library->entry<ScriptLibrary::RunFn>(ScriptLibrary::Run)()) {
        fetchError();
        return;
    }
    // A program that fails to compile or stops with an error is a failure, and what it
    // exported before stopping is dropped with it.
    bool ran = false;
    {
        const PollGuard poll(*this);
        ran = m_library->entry<ScriptLibrary::ExecFn>(ScriptLibrary::Exec)(text.constData());
    }
    if (!ran) {
        ExportBuffer().clear();
        fetchError();
        return;
    }
    if (!exportFault().isEmpty()) {
        ExportBuffer().clear();
        fail(0, exportFault());
        exportFault().clear();
        return;
    }
    ParseExports(ExportBuffer());
    succeed();
}

bool TqzComplier::Compile()
{
    const bool program = HasMain();
    QString text;
    try {
        text = Dictionary.Translate(Source, program ? kMaxProgramLength : kMaxFormulaLength);
    } catch (const Error &e) {
        Exports.clear();
        fail(0, program ? e.message() : QStringLiteral("error: ") + e.message());
        return Succeeded;
    }
    if (program)
        Execute(text);
    else
        Evaluate(text);
    return Succeeded;
}

void TqzComplier::ParseExports(const QString &text)
{
    Exports.clear();
    qsizetype pos = 0;
    for (;;) {
        const qsizetype bar = text.indexOf(QLatin1Char('|'), pos);
        if (bar < 0)
            break;
        const QStringView item = QStringView(text).mid(pos, bar - pos);
        const qsizetype eq = item.indexOf(QLatin1Char('='));
        if (eq < 0)
            break;
        Exports.push_back({item.left(eq).toString(), item.mid(eq + 1).toString()});
        pos = bar + 1;
    }
    ExportBuffer().clear();
}

} // namespace tessarin
