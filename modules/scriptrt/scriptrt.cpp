// The script interpreter library: the exported entry points over one AngelScript engine.

#include "scriptrt.h"

#include "compilerthread.h"
#include "formulashape.h"
#include "scriptstring.h"
#include "sourcecheck.h"

#include <angelscript.h>
#include <scriptbuilder.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

using namespace AngelScript;

namespace {

// A script is stopped after this many statements or this much wall time, whichever comes first:
// far beyond any engineering formula or program, short enough that a mistaken endless loop
// costs the user a moment and never a hung program.
constexpr std::uint64_t kStatementBudget = 50'000'000;
constexpr auto kTimeBudget = std::chrono::seconds(5);
// Compiled formula shapes kept at most; the cache starts afresh when it is full.
constexpr size_t kShapeCacheLimit = 4096;

// Memory the interpreter may hold at once; past it the running script is stopped.
constexpr std::size_t kMemoryBudget = 128u * 1024u * 1024u;

const char *const kFormulaFunction = "__Eval";
const char *const kResultSink = "__Ret";
const char *const kProgramSection = "program";
const char *const kFormulaSection = "formula";

const double kPi = 3.14159265358979323846;

struct CompileMessage
{
    std::string section;
    int row = 0;
    int column = 0;
    std::string text;
};

// The value a formula produced, recorded by the result sink overloads.
struct FormulaValue
{
    enum Kind { None, Signed, Unsigned, Floating, Text } kind = None;
    std::int64_t i = 0;
    std::uint64_t u = 0;
    double d = 0.0;
};

// A host function made callable from scripts by _uc_import.
struct HostImport
{
    // Text is a "char*" parameter, ConstText a "const char*" one: the host is called through
    // exactly the type it declared.
    enum Kind { Void, Text, Int, Double, ConstText };
    std::string scriptDeclaration;
    Kind result = Void;
    std::vector<Kind> params;
    void *function = nullptr;
};

struct Runtime
{
    int initCount = 0;
    asIScriptEngine *engine = nullptr;
    asIScriptContext *context = nullptr;
    asIScriptModule *header = nullptr;
    std::vector<std::string> headerFiles;
    std::filesystem::path headerRoot; // includes are accepted only below this folder
    std::string headerError;
    int headerErrorLine = 0;

    std::vector<CompileMessage> messages;
    FormulaValue value;

    std::string lastResult;
    std::string lastError;
    int lastErrorPos = 0;
    char *errorBuffer = nullptr;
    int errorBufferSize = 0;

    std::uint64_t statements = 0;
    std::chrono::steady_clock::time_point deadline;
    bool stoppedByBudget = false;
    // Bytes the host holds for what the running program handed to it (exported pairs), counted
    // in the memory budget with the interpreter's own.
    std::size_t handedOut = 0;
    uc_poll_fn poll = nullptr;
    std::chrono::steady_clock::time_point nextPoll;
    bool stoppedByRequest = false;

    std::vector<std::unique_ptr<HostImport>> imports;

    // Compiled function per shape code; null: the shape does not compile, use the text.
    std::unordered_map<std::string, asIScriptFunction *> shapes;

    // Where every compilation runs; stopped before the engine is released.
    std::unique_ptr<scriptrt::CompilerThread> compiler
        = std::make_unique<scriptrt::CompilerThread>();
};

Runtime *g_rt = nullptr;

// --- memory accounting --------------------------------------------------------------------------
// Every allocation of the interpreter carries its size in front, so the bytes in use are known
// and a script that keeps allocating (objects in an endless loop) is stopped at the next statement.

std::atomic<std::size_t> g_memoryInUse{0};
constexpr std::size_t kAllocHeader = alignof(std::max_align_t);

void *countedAlloc(size_t size)
{
    void *block = std::malloc(size + kAllocHeader);
    if (!block)
        return nullptr;
    *static_cast<std::size_t *>(block) = size;
    g_memoryInUse += size;
    return static_cast<char *>(block) + kAllocHeader;
}

void countedFree(void *p)
{
    if (!p)
        return;
    char *block = static_cast<char *>(p) - kAllocHeader;
    g_memoryInUse -= *reinterpret_cast<std::size_t *>(block);
    std::free(block);
}

// --- small helpers -------------------------------------------------------------------------------

// Copies `text` into a caller's buffer of `size` bytes, cut on a UTF-8 character boundary.
void writeText(char *buffer, int size, const std::string &text)
{
    if (!buffer || size <= 0)
        return;
    size_t n = std::min(text.size(), static_cast<size_t>(size - 1));
    if (n < text.size())
        while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80)
            --n;
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
}

std::string formatDouble(double v)
{
    char buf[40];
    // The "%.15g" form; to_chars writes exactly what printf does, several times faster.
    const auto written
        = std::to_chars(buf, buf + sizeof buf - 1, v, std::chars_format::general, 15);
    *written.ptr = '\0';
    // Near the largest double, 15 digits round up past it; the text must read back as a number.
    if (std::fabs(v) >= 1e308 && !std::isfinite(std::strtod(buf, nullptr)))
        std::snprintf(buf, sizeof buf, "%.17g", v);
    std::string s(buf);
    if (s.find_first_of(".e") == std::string::npos)
        s += ".0"; // keeps the value a floating literal when it is put back into a formula
    return s;
}

void setError(Runtime &rt, const std::string &message, int pos)
{
    rt.lastError = message;
    rt.lastErrorPos = pos;
}

// Compile errors are collected; so are the warnings that mean a wrong value. The compiler only
// warns when it folds a division by a constant zero, and folds it to 0 - where running the same
// division raises an error. Such a warning fails the compilation.
bool isFatalWarning(const char *text)
{
    return text
           && (std::strcmp(text, "Divide by zero") == 0
               || std::strcmp(text, "Overflow in integer division") == 0);
}

void messageCallback(const asSMessageInfo *msg, void *param)
{
    if (msg->type != asMSGTYPE_ERROR
        && !(msg->type == asMSGTYPE_WARNING && isFatalWarning(msg->message)))
        return;
    auto *rt = static_cast<Runtime *>(param);
    rt->messages.push_back(
        {msg->section ? msg->section : "", msg->row, msg->col, msg->message ? msg->message : ""});
}

// What a host is charged per exported call beyond its texts: the record it keeps (the name and
// value texts with their headers, the value's digits) takes about this much.
constexpr std::size_t kHandedOutRecord = 160;
constexpr auto kPollInterval = std::chrono::milliseconds(100);

std::size_t memoryInUse(const Runtime &rt)
{
    return g_memoryInUse.load() + rt.handedOut;
}

void lineCallback(asIScriptContext *ctx, Runtime *rt)
{
    ++rt->statements;
    if (rt->statements > kStatementBudget || memoryInUse(*rt) > kMemoryBudget
        || ((rt->statements & 0xFFF) == 0 && std::chrono::steady_clock::now() > rt->deadline)) {
        rt->stoppedByBudget = true;
        ctx->Abort();
        return;
    }
    if (rt->poll && (rt->statements & 0x3FF) == 0) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= rt->nextPoll) {
            rt->nextPoll = now + kPollInterval;
            if (rt->poll()) {
                rt->stoppedByRequest = true;
                ctx->Abort();
            }
        }
    }
}

void startBudget(Runtime &rt)
{
    rt.statements = 0;
    rt.stoppedByBudget = false;
    rt.stoppedByRequest = false;
    rt.deadline = std::chrono::steady_clock::now() + kTimeBudget;
    rt.nextPoll = std::chrono::steady_clock::now() + kPollInterval;
}

std::string budgetMessage(const Runtime &rt)
{
    if (rt.stoppedByRequest)
        return "error: the script was stopped on request";
    if (memoryInUse(rt) > kMemoryBudget)
        return "error: the script was stopped because it used more than "
               + std::to_string(kMemoryBudget / (1024 * 1024)) + " MB of memory";
    return "error: the script was stopped because it ran too long (more than "
           + std::to_string(kStatementBudget) + " statements or "
           + std::to_string(kTimeBudget.count()) + " seconds)";
}

std::string fileLabel(const std::string &section)
{
    return std::filesystem::path(section).filename().string();
}

// Texts longer than these are refused before compiling; how deeply they may nest is checked by
// checkNesting, and compiling runs on a stack sized for the deepest text it admits.
constexpr size_t kMaxFormulaLength = 64 * 1024;
// The interpreter compiles about 1 MB of plain statements a second, and holds about 2 KB per
// byte while it does: a program is kept to what compiles in a fraction of a second.
constexpr size_t kMaxProgramLength = 256 * 1024;

// Empty when the text is within the length limit, else why not.
std::string checkLength(const char *text, size_t maxLength)
{
    const size_t n = std::strlen(text);
    if (n > maxLength)
        return "error: the text is too long (" + std::to_string(n) + " bytes, at most "
               + std::to_string(maxLength) + ")";
    return {};
}

// A text whose recursion estimate is at most this compiles on the caller's stack (well under
// 100 KB of it); deeper ones are handed to the compiler thread.
constexpr int kInlineCompileDepth = 64;

// Runs one compilation step on the compiler's large stack, or in place when the text is shallow
// (`depth`, its recursion estimate); false (with a message recorded as a compile message) when
// that stack could not be had.
bool compileOnLargeStack(Runtime &rt,
                         const std::function<void()> &step,
                         int depth = kInlineCompileDepth + 1)
{
    if (depth <= kInlineCompileDepth) {
        step();
        return true;
    }
    if (rt.compiler->run(step))
        return true;
    rt.messages.push_back({"", 0, 0, "the compiler thread could not be started"});
    return false;
}

// A script builder that also hands out the text of the last section it preprocessed (with the
// code of false #if blocks blanked out), which is the text the compiler parses.
class CheckedBuilder : public CScriptBuilder
{
public:
    const std::string &processedText() const { return modifiedScript; }
};

// --- registered functions -----------------------------------------------------------------------

template<typename T>
void sinkSigned(T v)
{
    g_rt->value.kind = FormulaValue::Signed;
    g_rt->value.i = static_cast<std::int64_t>(v);
}

template<typename T>
void sinkUnsigned(T v)
{
    g_rt->value.kind = FormulaValue::Unsigned;
    g_rt->value.u = static_cast<std::uint64_t>(v);
}

template<typename T>
void sinkFloating(T v)
{
    g_rt->value.kind = FormulaValue::Floating;
    g_rt->value.d = static_cast<double>(v);
}

void sinkBool(bool v)
{
    g_rt->value.kind = FormulaValue::Signed;
    g_rt->value.i = v ? 1 : 0;
}

void sinkText(const std::string &)
{
    g_rt->value.kind = FormulaValue::Text;
}

void raiseScriptError(const std::string &why)
{
    if (asIScriptContext *ctx = asGetActiveContext())
        ctx->SetException(why.c_str());
}

int registerBuiltins(asIScriptEngine *engine)
{
    using D1 = double (*)(double);
    using D2 = double (*)(double, double);
    struct Unary
    {
        const char *name;
        D1 fn;
    };
    struct Binary
    {
        const char *name;
        D2 fn;
    };
    const Unary unary[] = {
        {"sqrt", [](double x) { return std::sqrt(x); }},
        {"exp", [](double x) { return std::exp(x); }},
        {"log", [](double x) { return std::log(x); }},
        {"log10", [](double x) { return std::log10(x); }},
        {"fabs", [](double x) { return std::fabs(x); }},
        {"sin", [](double x) { return std::sin(x); }},
        {"cos", [](double x) { return std::cos(x); }},
        {"tan", [](double x) { return std::tan(x); }},
        {"asin", [](double x) { return std::asin(x); }},
        {"acos", [](double x) { return std::acos(x); }},
        {"atan", [](double x) { return std::atan(x); }},
        {"sinh", [](double x) { return std::sinh(x); }},
        {"cosh", [](double x) { return std::cosh(x); }},
        {"tanh", [](double x) { return std::tanh(x); }},
        {"floor", [](double x) { return std::floor(x); }},
        {"ceil", [](double x) { return std::ceil(x); }},
        {"cbrt", [](double x) { return std::cbrt(x); }},
    };
    const Binary binary[] = {
        {"pow", [](double x, double y) { return std::pow(x, y); }},
        {"atan2", [](double y, double x) { return std::atan2(y, x); }},
        {"fmod", [](double x, double y) { return std::fmod(x, y); }},
        {"fmin", [](double x, double y) { return std::fmin(x, y); }},
        {"fmax", [](double x, double y) { return std::fmax(x, y); }},
        {"hypot", [](double x, double y) { return std::hypot(x, y); }},
    };
    int r = 0;
    for (const Unary &f : unary) {
        const std::string decl = std::string("double ") + f.name + "(double)";
        if ((r = engine->RegisterGlobalFunction(decl.c_str(), asFUNCTION(f.fn), asCALL_CDECL)) < 0)
            return r;
    }
    for (const Binary &f : binary) {
        const std::string decl = std::string("double ") + f.name + "(double, double)";
        if ((r = engine->RegisterGlobalFunction(decl.c_str(), asFUNCTION(f.fn), asCALL_CDECL)) < 0)
            return r;
    }
    if ((r = engine->RegisterGlobalProperty("const double pi", const_cast<double *>(&kPi))) < 0)
        return r;
    // Lets a header function refuse an impossible argument: the evaluation fails with the text
    // as its error message instead of returning a number.
    if ((r = engine->RegisterGlobalFunction(
             "void throw(const string &in)", asFUNCTION(raiseScriptError), asCALL_CDECL))
        < 0)
        return r;

    // The result sink of formulas: one overload per value type, so the formula keeps its type.
    struct Sink
    {
        const char *decl;
        asSFuncPtr fn;
    };
    const Sink sinks[] = {
        {"void __Ret(int8)", asFUNCTION(sinkSigned<std::int8_t>)},
        {"void __Ret(int16)", asFUNCTION(sinkSigned<std::int16_t>)},
        {"void __Ret(int)", asFUNCTION(sinkSigned<std::int32_t>)},
        {"void __Ret(int64)", asFUNCTION(sinkSigned<std::int64_t>)},
        {"void __Ret(uint8)", asFUNCTION(sinkUnsigned<std::uint8_t>)},
        {"void __Ret(uint16)", asFUNCTION(sinkUnsigned<std::uint16_t>)},
        {"void __Ret(uint)", asFUNCTION(sinkUnsigned<std::uint32_t>)},
        {"void __Ret(uint64)", asFUNCTION(sinkUnsigned<std::uint64_t>)},
        {"void __Ret(float)", asFUNCTION(sinkFloating<float>)},
        {"void __Ret(double)", asFUNCTION(sinkFloating<double>)},
        {"void __Ret(bool)", asFUNCTION(sinkBool)},
        {"void __Ret(const string &in)", asFUNCTION(sinkText)},
    };
    for (const Sink &s : sinks)
        if ((r = engine->RegisterGlobalFunction(s.decl, s.fn, asCALL_CDECL)) < 0)
            return r;
    return 0;
}

// --- host imports -------------------------------------------------------------------------------

template<typename... Done>
void callImport(const HostImport &imp, asIScriptGeneric *gen, size_t index, Done... done)
{
    if (index == imp.params.size()) {
        switch (imp.result) {
        case HostImport::Void:
            reinterpret_cast<void(SCRIPTRT_CALL *)(Done...)>(imp.function)(done...);
            break;
        case HostImport::Int:
            gen->SetReturnDWord(static_cast<asDWORD>(
                reinterpret_cast<int(SCRIPTRT_CALL *)(Done...)>(imp.function)(done...)));
            break;
        case HostImport::Double:
            gen->SetReturnDouble(
                reinterpret_cast<double(SCRIPTRT_CALL *)(Done...)>(imp.function)(done...));
            break;
        case HostImport::Text:
        case HostImport::ConstText:
            break;
        }
        return;
    }
    if constexpr (sizeof...(Done) < 4) {
        const auto arg = static_cast<asUINT>(index);
        switch (imp.params[index]) {
        case HostImport::ConstText:
            callImport(imp,
                       gen,
                       index + 1,
                       done...,
                       static_cast<const std::string *>(gen->GetArgObject(arg))->c_str());
            break;
        case HostImport::Text: {
            // A host declared with "char*" gets a copy it may write to; the script's string
            // stays as it was.
            const auto *text = static_cast<const std::string *>(gen->GetArgObject(arg));
            std::vector<char> copy(text->c_str(), text->c_str() + text->size() + 1);
            callImport(imp, gen, index + 1, done..., copy.data());
            break;
        }
        case HostImport::Int:
            callImport(imp, gen, index + 1, done..., static_cast<int>(gen->GetArgDWord(arg)));
            break;
        case HostImport::Double:
            callImport(imp, gen, index + 1, done..., gen->GetArgDouble(arg));
            break;
        case HostImport::Void:
            break;
        }
    }
}

void genericImport(asIScriptGeneric *gen)
{
    const auto *imp = static_cast<const HostImport *>(gen->GetAuxiliary());
    if (!imp || !imp->function)
        return;
    // The host keeps what it is handed (a text it appends to, as UTF-16): charged to the budget.
    if (g_rt) {
        g_rt->handedOut += kHandedOutRecord;
        for (size_t i = 0; i < imp->params.size(); ++i)
            if (imp->params[i] == HostImport::Text || imp->params[i] == HostImport::ConstText)
                g_rt->handedOut
                    += 2
                       * static_cast<const std::string *>(gen->GetArgObject(static_cast<asUINT>(i)))
                             ->size();
    }
    callImport(*imp, gen, 0);
}

// Where the identifier that ends `text` starts (text.size() when it ends in none).
size_t trailingIdentifierStart(const std::string &text)
{
    size_t start = text.size();
    while (start > 0
           && (std::isalnum(static_cast<unsigned char>(text[start - 1])) || text[start - 1] == '_'))
        --start;
    return start;
}

std::string stripSpaces(const std::string &s)
{
    std::string out;
    for (char c : s)
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n')
            out += c;
    return out;
}

// Reads a C type (with an optional parameter name after it) into an import kind.
bool parseCType(std::string text, bool isResult, HostImport::Kind &kind)
{
    // Drop a trailing parameter name: the last word when something precedes it.
    const size_t end = text.find_last_not_of(" \t");
    if (end == std::string::npos)
        return false;
    text.erase(end + 1);
    const size_t start = text.find_first_not_of(" \t");
    text.erase(0, start);
    const size_t nameStart = trailingIdentifierStart(text);
    const std::string lastWord = text.substr(nameStart);
    if (nameStart > 0 && lastWord != "int" && lastWord != "double" && lastWord != "char"
        && lastWord != "void")
        text.erase(nameStart);
    const std::string t = stripSpaces(text);
    if (t == "char*")
        kind = HostImport::Text;
    else if (t == "constchar*")
        kind = HostImport::ConstText;
    else if (t == "int")
        kind = HostImport::Int;
    else if (t == "double")
        kind = HostImport::Double;
    else if (t == "void" && isResult)
        kind = HostImport::Void;
    else
        return false;
    return true;
}

// "void ExportDouble(char*,double)" -> the script declaration and the kinds; false when the
// declaration uses anything but the supported types.
bool parseImport(const std::string &decl, HostImport &imp, std::string &name)
{
    const size_t open = decl.find('(');
    const size_t close = decl.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open)
        return false;
    std::string head = decl.substr(0, open);
    while (!head.empty() && (head.back() == ' ' || head.back() == '\t'))
        head.pop_back();
    const size_t nameStart = trailingIdentifierStart(head);
    name = head.substr(nameStart);
    if (name.empty() || std::isdigit(static_cast<unsigned char>(name[0])))
        return false;
    if (!parseCType(head.substr(0, nameStart) + " ", true, imp.result)
        || imp.result == HostImport::Text || imp.result == HostImport::ConstText)
        return false;
    const std::string paramText = decl.substr(open + 1, close - open - 1);
    imp.params.clear();
    if (const std::string bare = stripSpaces(paramText); !bare.empty() && bare != "void") {
        size_t pos = 0;
        while (pos <= paramText.size()) {
            const size_t comma = paramText.find(',', pos);
            const std::string part = paramText.substr(
                pos, comma == std::string::npos ? std::string::npos : comma - pos);
            HostImport::Kind kind;
            if (!parseCType(part, false, kind))
                return false;
            imp.params.push_back(kind);
            if (comma == std::string::npos)
                break;
            pos = comma + 1;
        }
    }
    if (imp.params.size() > 4)
        return false;
    static const char *const typeNames[]
        = {"void", "const string &in", "int", "double", "const string &in"};
    std::string script = std::string(typeNames[imp.result]) + " " + name + "(";
    for (size_t i = 0; i < imp.params.size(); ++i)
        script += (i ? ", " : "") + std::string(typeNames[imp.params[i]]);
    imp.scriptDeclaration = script + ")";
    return true;
}

// --- the engine ---------------------------------------------------------------------------------

void releaseShapes(Runtime &rt)
{
    for (auto &entry : rt.shapes)
        if (entry.second)
            entry.second->Release();
    rt.shapes.clear();
}

void destroyRuntime(Runtime *rt)
{
    if (!rt)
        return;
    releaseShapes(*rt);
    rt->compiler.reset();
    if (rt->context)
        rt->context->Release();
    if (rt->engine)
        rt->engine->ShutDownAndRelease();
    delete rt;
}

// Adds a header file as a section named by its path, its number literals read exactly as in
// programs. The file is checked for nesting as written: brackets in a false #if block count too.
// Returns what AddSectionFromMemory returns; below 0 with a message recorded on failure.
int addHeaderSection(Runtime &rt, CScriptBuilder &builder, const std::string &file)
{
    std::ifstream in(file, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) {
        rt.messages.push_back({file, 0, 0, "cannot read the header"});
        return -1;
    }
    std::string exact;
    std::string refused = scriptrt::checkNesting(*rt.engine, text, true);
    if (refused.empty())
        refused = scriptrt::exactNumbers(*rt.engine, text, exact, true);
    if (!refused.empty()) {
        rt.messages.push_back({file, 0, 0, refused.substr(std::strlen("error: "))});
        return -1;
    }
    return builder.AddSectionFromMemory(
        file.c_str(), exact.c_str(), static_cast<unsigned>(exact.size()));
}

int includeCallback(const char *include, const char *from, CScriptBuilder *builder, void *param)
{
    auto *rt = static_cast<Runtime *>(param);
    namespace fs = std::filesystem;
    const std::string fromSection = from ? from : "";
    if (fromSection == kProgramSection || fromSection == kFormulaSection) {
        rt->messages.push_back(
            {fromSection, 0, 0, std::string("#include is not allowed in a program: ") + include});
        return -1;
    }
    std::error_code ec;
    fs::path target = fs::path(include);
    if (target.is_relative())
        target = fs::path(fromSection).parent_path() / target;
    target = fs::weakly_canonical(target, ec);
    const fs::path root = rt->headerRoot;
    const std::string t = target.string();
    const std::string r = root.string();
    if (ec || t.compare(0, r.size(), r) != 0) {
        rt->messages.push_back(
            {fromSection,
             0,
             0,
             std::string("#include outside the header folder refused: ") + include});
        return -1;
    }
    return addHeaderSection(*rt, *builder, t);
}

// Adds every included header to a builder that has started a module.
bool addHeaders(Runtime &rt, CScriptBuilder &builder)
{
    for (const std::string &file : rt.headerFiles)
        if (addHeaderSection(rt, builder, file) < 0) {
            if (rt.messages.empty())
                rt.messages.push_back({file, 0, 0, "cannot read the header"});
            return false;
        }
    return true;
}

std::string describeMessage(const CompileMessage &m, bool withFile)
{
    std::string what = m.text;
    const std::string unknown = "No matching symbol '";
    if (what.compare(0, unknown.size(), unknown) == 0 && what.size() > unknown.size()
        && what.back() == '\'')
        what = what.substr(unknown.size() - 1) + " is not declared";
    std::string text = "error: " + what;
    if (withFile && !m.section.empty())
        text += " (" + fileLabel(m.section) + ", line " + std::to_string(m.row) + ")";
    return text;
}

// Runs a prepared context within the budget; empty on success, else the error text and line.
std::string runContext(Runtime &rt, asIScriptContext *ctx, int *line)
{
    startBudget(rt);
    const int r = ctx->Execute();
    if (line)
        *line = 0;
    if (r == asEXECUTION_FINISHED)
        return {};
    if (r == asEXECUTION_ABORTED || rt.stoppedByBudget || rt.stoppedByRequest) {
        if (line)
            *line = ctx->GetLineNumber();
        return budgetMessage(rt);
    }
    if (r == asEXECUTION_EXCEPTION) {
        if (line)
            *line = ctx->GetExceptionLineNumber();
        const char *what = ctx->GetExceptionString();
        return std::string("error: ") + (what ? what : "script exception");
    }
    return "error: the script could not be executed (code " + std::to_string(r) + ")";
}

bool buildHeader(Runtime &rt)
{
    releaseShapes(rt);
    rt.headerError.clear();
    rt.headerErrorLine = 0;
    rt.messages.clear();
    CScriptBuilder builder;
    builder.SetIncludeCallback(includeCallback, &rt);
    if (builder.StartNewModule(rt.engine, "project") < 0) {
        rt.headerError = "error: cannot start the header module";
        return false;
    }
    rt.header = rt.engine->GetModule("project");
    int built = -1;
    bool ok = addHeaders(rt, builder)
              && compileOnLargeStack(rt, [&] { built = builder.BuildModule(); }) && built >= 0
              && rt.messages.empty();
    if (ok && rt.header) {
        startBudget(rt);
        if (rt.header->ResetGlobalVars(rt.context) < 0 || rt.stoppedByBudget)
            ok = false;
    }
    if (!ok) {
        if (!rt.messages.empty()) {
            rt.headerError = describeMessage(rt.messages.front(), true);
            rt.headerErrorLine = rt.messages.front().row;
        } else {
            rt.headerError = "error: the header could not be built";
        }
        // Formulas still see everything registered; the header's failure is reported by every
        // evaluation so a broken installation is never mistaken for a formula error.
        rt.engine->DiscardModule("project");
        rt.header = rt.engine->GetModule("project", asGM_ALWAYS_CREATE);
    }
    return ok;
}

Runtime *createRuntime()
{
    auto rt = std::make_unique<Runtime>();
    rt->engine = asCreateScriptEngine();
    if (!rt->engine)
        return nullptr;
    asIScriptEngine *e = rt->engine;
    e->SetMessageCallback(asFUNCTION(messageCallback), rt.get(), asCALL_CDECL);
    e->SetEngineProperty(asEP_INIT_GLOBAL_VARS_AFTER_BUILD, false); // run them under the budget
    e->SetEngineProperty(asEP_MAX_STACK_SIZE, 4 * 1024 * 1024);
    e->SetEngineProperty(asEP_MAX_CALL_STACK_SIZE, 20000);
    e->SetEngineProperty(asEP_COMPILER_WARNINGS, 1);
    // Node names are often Chinese; one left unreplaced in a formula then reads as an undeclared
    // name instead of a stray character.
    e->SetEngineProperty(asEP_ALLOW_UNICODE_IDENTIFIERS, true);
    if (scriptrt::registerScriptString(e) < 0 || registerBuiltins(e) < 0) {
        destroyRuntime(rt.release());
        return nullptr;
    }
    rt->context = e->CreateContext();
    rt->context->SetLineCallback(asFUNCTION(lineCallback), rt.get(), asCALL_CDECL);
    rt->header = e->GetModule("project", asGM_ALWAYS_CREATE);
    return rt.release();
}

// A context for one run: the shared one unless it is busy (a host callback evaluating again).
struct ContextLease
{
    explicit ContextLease(Runtime &rt)
        : m_rt(rt)
    {
        if (rt.context->GetState() == asEXECUTION_ACTIVE
            || rt.context->GetState() == asEXECUTION_SUSPENDED) {
            m_own = rt.engine->CreateContext();
            m_own->SetLineCallback(asFUNCTION(lineCallback), &rt, asCALL_CDECL);
        }
    }
    ~ContextLease()
    {
        if (m_own)
            m_own->Release();
        else
            m_rt.context->Unprepare();
    }
    asIScriptContext *get() const { return m_own ? m_own : m_rt.context; }

private:
    Runtime &m_rt;
    asIScriptContext *m_own = nullptr;
};

std::string formatValue(const FormulaValue &v)
{
    switch (v.kind) {
    case FormulaValue::Signed:
        return std::to_string(v.i);
    case FormulaValue::Unsigned:
        return std::to_string(v.u);
    case FormulaValue::Floating:
        if (!std::isfinite(v.d))
            return {};
        return formatDouble(v.d);
    default:
        return {};
    }
}

// Runs a compiled formula function and writes its value; true when it produced a number.
bool runFormula(Runtime &rt,
                asIScriptFunction *fn,
                const std::vector<scriptrt::ShapeArgument> *args,
                std::string &out)
{
    ContextLease lease(rt);
    asIScriptContext *ctx = lease.get();
    if (ctx->Prepare(fn) < 0) {
        out = "error: the formula could not be prepared";
        return false;
    }
    if (args) {
        for (size_t i = 0; i < args->size(); ++i) {
            const auto &a = (*args)[i];
            const auto arg = static_cast<asUINT>(i);
            if (a.kind == scriptrt::ShapeArgument::Double)
                ctx->SetArgDouble(arg, a.doubleValue);
            else if (a.kind == scriptrt::ShapeArgument::Int)
                ctx->SetArgDWord(arg, static_cast<asDWORD>(a.intValue));
            else
                ctx->SetArgQWord(arg, static_cast<asQWORD>(a.intValue));
        }
    }
    rt.value = FormulaValue();
    const std::string error = runContext(rt, ctx, nullptr);
    if (!error.empty()) {
        out = error;
        return false;
    }
    if (rt.value.kind == FormulaValue::Text) {
        out = "error: the formula gives a text, not a number";
        return false;
    }
    out = formatValue(rt.value);
    if (out.empty()) {
        out = "error: the result is not a finite number";
        return false;
    }
    return true;
}

std::string compileErrorText(const Runtime &rt)
{
    if (rt.messages.empty())
        return "error: the formula could not be compiled";
    const CompileMessage &m = rt.messages.front();
    if (m.text.find(kResultSink) != std::string::npos)
        return "error: the formula has no numeric value";
    return describeMessage(m, m.section != kFormulaSection);
}

bool runShape(Runtime &rt,
              const char *formula,
              const scriptrt::FormulaShape &shape,
              std::string &out,
              bool &compiled);

// Compiles the formula as written (with the literals the interpreter would misread put in exact
// form) and runs it.
bool evaluatePlain(Runtime &rt, const char *formula, std::string &out)
{
    std::string exact;
    int depth = 0;
    if (!(out = scriptrt::checkNesting(*rt.engine, formula, false, &depth)).empty()
        || !(out = scriptrt::exactNumbers(*rt.engine, formula, exact, false)).empty())
        return false;
    const std::string code
        = scriptrt::formulaFunctionCode(kFormulaFunction, {}, kResultSink, exact);
    rt.messages.clear();
    asIScriptFunction *fn = nullptr;
    int r = -1;
    compileOnLargeStack(
        rt,
        [&] { r = rt.header->CompileFunction(kFormulaSection, code.c_str(), 0, 0, &fn); },
        depth);
    if (r < 0 || !fn || !rt.messages.empty()) {
        out = compileErrorText(rt);
        if (fn)
            fn->Release();
        return false;
    }
    const bool ok = runFormula(rt, fn, nullptr, out);
    fn->Release();
    if (!ok)
        return false;
    // The compiler folds a division by a constant negative zero (-0.0, -(0*x)) to a value
    // without any message (an overflowing integer division of constants was refused before
    // compiling). Run with its numbers as parameters, the same formula reaches the division at
    // run time and fails as every other such division does.
    scriptrt::FormulaShape shape;
    if (std::strpbrk(formula, "/%")
        && scriptrt::makeFormulaShape(formula, kFormulaFunction, kResultSink, shape)) {
        std::string check;
        bool compiled = false;
        if (!runShape(rt, formula, shape, check, compiled) && compiled
            && check.find("Divide by zero") != std::string::npos) {
            out = check;
            return false;
        }
    }
    return true;
}

// Runs a shape through its compiled function, compiling it on first use; `compiled` false when
// the shape does not compile. A formula nesting too deeply to compile is refused here, once per
// shape: the shape nests as the formula does.
bool runShape(Runtime &rt,
              const char *formula,
              const scriptrt::FormulaShape &shape,
              std::string &out,
              bool &compiled)
{
    auto it = rt.shapes.find(shape.code);
    if (it == rt.shapes.end()) {
        int depth = 0;
        if (!(out = scriptrt::checkNesting(*rt.engine, formula, false, &depth)).empty()) {
            compiled = true;
            return false;
        }
        if (rt.shapes.size() >= kShapeCacheLimit)
            releaseShapes(rt);
        rt.messages.clear();
        asIScriptFunction *fn = nullptr;
        int r = -1;
        compileOnLargeStack(
            rt,
            [&] { r = rt.header->CompileFunction(kFormulaSection, shape.code.c_str(), 0, 0, &fn); },
            depth);
        if (r < 0 || !rt.messages.empty()) {
            if (fn)
                fn->Release();
            fn = nullptr;
        }
        it = rt.shapes.emplace(shape.code, fn).first;
    }
    compiled = it->second != nullptr;
    if (!compiled)
        return false;
    return runFormula(rt, it->second, &shape.arguments, out);
}

// Runs the formula through the compiled function of its shape, compiling the shape once.
bool evaluateCached(Runtime &rt, const char *formula, std::string &out)
{
    scriptrt::FormulaShape shape;
    if (!scriptrt::makeFormulaShape(formula, kFormulaFunction, kResultSink, shape)
        || shape.foldingSensitive)
        return evaluatePlain(rt, formula, out);
    bool compiled = false;
    const bool ok = runShape(rt, formula, shape, out, compiled);
    // A shape that does not compile is compiled as written, so its message names the formula's
    // own text and not the parameters that stand in for its numbers.
    return compiled ? ok : evaluatePlain(rt, formula, out);
}

int evaluate(const char *expression, char *result, int size, bool cached)
{
    std::string out;
    bool ok = false;
    if (!g_rt) {
        out = "error: the interpreter is not initialised";
    } else if (!expression) {
        out = "error: no expression";
    } else if (!g_rt->headerError.empty()) {
        out = g_rt->headerError;
    } else {
        g_rt->handedOut = 0;
        try {
            if ((out = checkLength(expression, kMaxFormulaLength)).empty()
                && (out = scriptrt::checkExpression(*g_rt->engine, expression)).empty())
                ok = cached ? evaluateCached(*g_rt, expression, out)
                            : evaluatePlain(*g_rt, expression, out);
        } catch (const std::exception &e) {
            out = std::string("error: ") + e.what();
            ok = false;
        }
    }
    if (g_rt) {
        g_rt->lastResult = out;
        if (ok)
            setError(*g_rt, "", 0);
        else
            setError(*g_rt, out, 0);
    }
    writeText(result, size, out);
    return ok ? 1 : 0;
}

// The line a refusal of the checks before compiling names (" (line N, column M)"), else 0.
int refusalLine(const std::string &refusal)
{
    const size_t at = refusal.rfind(" (line ");
    return at == std::string::npos ? 0 : std::atoi(refusal.c_str() + at + 7);
}

bool executeProgram(Runtime &rt, const char *program)
{
    rt.messages.clear();
    rt.handedOut = 0;
    std::string exact;
    std::string refused = checkLength(program, kMaxProgramLength);
    if (refused.empty())
        refused = scriptrt::exactNumbers(*rt.engine, program, exact, true);
    if (!refused.empty()) {
        setError(rt, refused, refusalLine(refused));
        return false;
    }
    CheckedBuilder builder;
    builder.SetIncludeCallback(includeCallback, &rt);
    if (builder.StartNewModule(rt.engine, kProgramSection) < 0) {
        setError(rt, "error: cannot start the program module", 0);
        return false;
    }
    struct Discard
    {
        asIScriptEngine *engine;
        ~Discard() { engine->DiscardModule(kProgramSection); }
    } discard{rt.engine};

    const bool added = addHeaders(rt, builder)
                       && builder.AddSectionFromMemory(
                              kProgramSection, exact.c_str(), static_cast<unsigned>(exact.size()))
                              >= 0;
    if (added) {
        // The text the compiler will parse, with false #if blocks blanked out: brackets there
        // do not nest.
        refused = scriptrt::checkNesting(*rt.engine, builder.processedText(), true);
        if (!refused.empty()) {
            setError(rt, refused, refusalLine(refused));
            return false;
        }
    }
    int r = -1;
    const bool built = added && compileOnLargeStack(rt, [&] { r = builder.BuildModule(); })
                       && r >= 0 && rt.messages.empty();
    if (!built) {
        if (rt.messages.empty()) {
            setError(rt, "error: the program could not be compiled", 0);
        } else {
            const CompileMessage &m = rt.messages.front();
            const bool inProgram = m.section == kProgramSection;
            std::string text = describeMessage(m, !inProgram);
            if (inProgram && m.row > 0)
                text += " (line " + std::to_string(m.row) + ", column " + std::to_string(m.column)
                        + ")";
            setError(rt, text, inProgram ? m.row : 0);
        }
        return false;
    }
    asIScriptModule *mod = rt.engine->GetModule(kProgramSection);
    // Script classes would let a program create objects without bound (and overflow the
    // interpreter's reference counts); formulas and calculation programs need none.
    if (mod && mod->GetObjectTypeCount() > 0) {
        const asITypeInfo *type = mod->GetObjectTypeByIndex(0);
        setError(rt,
                 std::string("error: classes and interfaces are not supported in programs ('")
                     + (type && type->GetName() ? type->GetName() : "?") + "')",
                 0);
        return false;
    }
    asIScriptFunction *mainFn = mod ? mod->GetFunctionByName("main") : nullptr;
    if (!mainFn || mainFn->GetParamCount() != 0) {
        setError(rt, "error: the program needs exactly one function main() without parameters", 0);
        return false;
    }
    ContextLease lease(rt);
    startBudget(rt);
    if (mod->ResetGlobalVars(lease.get()) < 0) {
        setError(rt,
                 rt.stoppedByBudget || rt.stoppedByRequest
                     ? budgetMessage(rt)
                     : "error: the program's global variables could not be "
                       "initialised",
                 0);
        return false;
    }
    if (lease.get()->Prepare(mainFn) < 0) {
        setError(rt, "error: main() could not be prepared", 0);
        return false;
    }
    int line = 0;
    const std::string error = runContext(rt, lease.get(), &line);
    if (!error.empty()) {
        setError(rt, line > 0 ? error + " (line " + std::to_string(line) + ")" : error, line);
        return false;
    }
    setError(rt, "", 0);
    return true;
}

// True (with the header's error as the last error) when the header failed to build, so a
// broken installation is reported by every run.
bool headerBroken(Runtime &rt)
{
    if (rt.headerError.empty())
        return false;
    setError(rt, rt.headerError, rt.headerErrorLine);
    return true;
}

int notSupported(const char *what)
{
    if (g_rt)
        setError(*g_rt, std::string("error: ") + what + " is not supported by this interpreter", 0);
    return 0;
}

} // namespace

extern "C" {

int SCRIPTRT_CALL _uc_init(int, int)
{
    if (g_rt) {
        ++g_rt->initCount;
        return 1;
    }
    // Installed once, before the first engine, and kept: blocks must be freed by the same pair.
    static const bool memoryCounted = asSetGlobalMemoryFunctions(countedAlloc, countedFree) >= 0;
    (void)memoryCounted;
    g_rt = createRuntime();
    if (!g_rt)
        return 0;
    g_rt->initCount = 1;
    return 1;
}

void SCRIPTRT_CALL _uc_finis()
{
    if (g_rt && --g_rt->initCount <= 0) {
        destroyRuntime(g_rt);
        g_rt = nullptr;
    }
}

} // extern "C"

namespace {

// No C++ exception may leave the library through its C entries: one that escapes `body`
// becomes the last error, and the entry returns `failed`.
template<typename R, typename F>
R guarded(R failed, F &&body)
{
    try {
        return body();
    } catch (const std::exception &e) {
        if (g_rt)
            setError(*g_rt, std::string("error: ") + e.what(), 0);
    } catch (...) {
        if (g_rt)
            setError(*g_rt, "error: unexpected failure inside the interpreter", 0);
    }
    return failed;
}

// The shape of a formula whose text literals may hold any characters: they are set aside while
// the numbers are turned into parameters, and put back as written into the shape's code.
bool shapeWithTexts(const char *formula, scriptrt::FormulaShape &shape)
{
    const std::string text(formula);
    if (text.find('\x01') != std::string::npos)
        return scriptrt::makeFormulaShape(formula, kFormulaFunction, kResultSink, shape);
    std::string hidden;
    std::vector<std::string> literals;
    for (size_t i = 0; i < text.size();) {
        const char c = text[i];
        if (c != '"' && c != '\'') {
            hidden += c;
            ++i;
            continue;
        }
        if (text.compare(i, 3, "\"\"\"") == 0)
            return false; // a heredoc string: compiled as written
        size_t j = i + 1;
        while (j < text.size() && text[j] != c)
            j += text[j] == '\\' ? 2 : 1;
        if (j >= text.size())
            return false;
        hidden += c;
        hidden += '\x01';
        hidden += std::to_string(literals.size());
        hidden += '\x01';
        hidden += c;
        literals.push_back(text.substr(i, j + 1 - i));
        i = j + 1;
    }
    if (!scriptrt::makeFormulaShape(hidden.c_str(), kFormulaFunction, kResultSink, shape))
        return false;
    // The literals come back in their order: the shape copies each one in place.
    std::string code;
    size_t from = 0;
    for (size_t k = 0; k < literals.size(); ++k) {
        const std::string mark = '\x01' + std::to_string(k) + '\x01';
        const size_t at = shape.code.find(mark, from);
        if (at == std::string::npos || at == 0)
            return false;
        code.append(shape.code, from, at - 1 - from);
        code += literals[k];
        from = at + mark.size() + 1;
    }
    code.append(shape.code, from, std::string::npos);
    shape.code = std::move(code);
    return true;
}

int includeHeader(const char *path)
{
    if (!g_rt || !path)
        return 0;
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path file = fs::weakly_canonical(fs::path(path), ec);
    if (ec || !fs::is_regular_file(file, ec)) {
        g_rt->headerError = std::string("error: the header ") + path + " cannot be read";
        setError(*g_rt, g_rt->headerError, 0);
        return 0;
    }
    for (const std::string &f : g_rt->headerFiles)
        if (f == file.string())
            return g_rt->headerError.empty() ? 1 : 0;
    if (g_rt->headerFiles.empty())
        g_rt->headerRoot = file.parent_path();
    g_rt->headerFiles.push_back(file.string());
    const bool ok = buildHeader(*g_rt);
    setError(*g_rt, g_rt->headerError, g_rt->headerErrorLine);
    return ok ? 1 : 0;
}

int importFunction(const char *declaration, void *function)
{
    if (!g_rt || !declaration || !function)
        return 0;
    auto imp = std::make_unique<HostImport>();
    std::string name;
    if (!parseImport(declaration, *imp, name)) {
        setError(*g_rt,
                 std::string("error: cannot import \"") + declaration
                     + "\": only char*, int and double parameters (at most 4) are supported",
                 0);
        return 0;
    }
    imp->function = function;
    for (auto &existing : g_rt->imports)
        if (existing->scriptDeclaration == imp->scriptDeclaration) {
            existing->function = function; // the same declaration again: point it at the new host
            return 1;
        }
    const int r = g_rt->engine->RegisterGlobalFunction(
        imp->scriptDeclaration.c_str(), asFUNCTION(genericImport), asCALL_GENERIC, imp.get());
    if (r < 0) {
        setError(*g_rt, std::string("error: cannot import \"") + declaration + "\"", 0);
        return 0;
    }
    g_rt->imports.push_back(std::move(imp));
    return 1;
}

} // namespace

extern "C" {

int SCRIPTRT_CALL _uc_include(const char *path)
{
    return guarded(0, [&] { return includeHeader(path); });
}

void SCRIPTRT_CALL _uc_set_poll(uc_poll_fn poll)
{
    if (g_rt)
        g_rt->poll = poll;
}

int SCRIPTRT_CALL _uc_eval(const char *expression, char *result, int size)
{
    return evaluate(expression, result, size, true);
}

int SCRIPTRT_CALL _uc_eval_exp(const char *expression, char *result, int size)
{
    return evaluate(expression, result, size, false);
}

int SCRIPTRT_CALL _uc_formula_shape(const char *formula, char *code, int codeSize, int *kinds,
                                    unsigned long long *bits, int maxArgs, int *flags)
{
    return guarded(-1, [&] {
        scriptrt::FormulaShape shape;
        if (!formula || !code || codeSize <= 0 || !shapeWithTexts(formula, shape)
            || shape.code.size() >= static_cast<size_t>(codeSize)
            || shape.arguments.size() > static_cast<size_t>(std::max(maxArgs, 0)))
            return -1;
        std::memcpy(code, shape.code.c_str(), shape.code.size() + 1);
        for (size_t i = 0; i < shape.arguments.size(); ++i) {
            const scriptrt::ShapeArgument &a = shape.arguments[i];
            kinds[i] = static_cast<int>(a.kind);
            std::uint64_t b = a.intValue;
            if (a.kind == scriptrt::ShapeArgument::Double)
                std::memcpy(&b, &a.doubleValue, sizeof b);
            bits[i] = b;
        }
        if (flags)
            *flags = shape.foldingSensitive ? 1 : 0;
        return static_cast<int>(shape.arguments.size());
    });
}

int SCRIPTRT_CALL _uc_prepare_shape(const char *formula)
{
    return guarded(0, [&] {
        scriptrt::FormulaShape shape;
        if (!g_rt || !formula || !g_rt->headerError.empty() || !shapeWithTexts(formula, shape))
            return 0;
        auto it = g_rt->shapes.find(shape.code);
        if (it == g_rt->shapes.end()) {
            int depth = 0;
            if (!scriptrt::checkNesting(*g_rt->engine, formula, false, &depth).empty())
                return 0;
            if (g_rt->shapes.size() >= kShapeCacheLimit)
                releaseShapes(*g_rt);
            g_rt->messages.clear();
            asIScriptFunction *fn = nullptr;
            int r = -1;
            compileOnLargeStack(
                *g_rt,
                [&] {
                    r = g_rt->header->CompileFunction(
                        kFormulaSection, shape.code.c_str(), 0, 0, &fn);
                },
                depth);
            if (r < 0 || !g_rt->messages.empty()) {
                if (fn)
                    fn->Release();
                fn = nullptr;
            }
            it = g_rt->shapes.emplace(shape.code, fn).first;
        }
        return it->second ? 1 : 0;
    });
}

int SCRIPTRT_CALL _uc_eval_shaped(const char *code, int count, const int *kinds,
                                  const unsigned long long *bits, char *result, int size)
{
    if (!g_rt || !code || count < 0 || !g_rt->headerError.empty())
        return -1; // the text path reports these
    const auto it = g_rt->shapes.find(code);
    if (it == g_rt->shapes.end() || !it->second)
        return -1;
    // Kept from call to call: a sweep runs this for every step of every case.
    thread_local std::vector<scriptrt::ShapeArgument> args;
    args.resize(static_cast<size_t>(count));
    for (size_t i = 0; i < args.size(); ++i) {
        args[i].kind = static_cast<scriptrt::ShapeArgument::Kind>(kinds[i]);
        if (args[i].kind == scriptrt::ShapeArgument::Double)
            std::memcpy(&args[i].doubleValue, &bits[i], sizeof(double));
        else
            args[i].intValue = bits[i];
    }
    std::string out;
    bool ok = false;
    try {
        ok = runFormula(*g_rt, it->second, &args, out);
    } catch (const std::exception &e) {
        out = std::string("error: ") + e.what();
    }
    g_rt->lastResult = out;
    setError(*g_rt, ok ? std::string() : out, 0);
    writeText(result, size, out);
    return ok ? 1 : 0;
}

int SCRIPTRT_CALL _uc_result(char *result, int size)
{
    return guarded(0, [&] {
        writeText(result, size, g_rt ? g_rt->lastResult : std::string());
        return g_rt ? static_cast<int>(g_rt->lastResult.size()) + 1 : 0;
    });
}

int SCRIPTRT_CALL _uc_import(const char *declaration, void *function)
{
    return guarded(0, [&] { return importFunction(declaration, function); });
}

int SCRIPTRT_CALL _uc_run()
{
    return g_rt && !headerBroken(*g_rt) ? 1 : 0;
}

int SCRIPTRT_CALL _uc_exec(const char *program)
{
    if (!g_rt)
        return 0;
    if (!program) {
        setError(*g_rt, "error: no program", 0);
        return 0;
    }
    if (headerBroken(*g_rt))
        return 0;
    try {
        if (executeProgram(*g_rt, program))
            return 1;
        // Program errors travel with their position; the "error: " mark is for formulas only,
        // whose result buffer must never read as a number.
        const std::string mark = "error: ";
        if (g_rt->lastError.compare(0, mark.size(), mark) == 0)
            g_rt->lastError.erase(0, mark.size());
        return 0;
    } catch (const std::exception &e) {
        setError(*g_rt, std::string("error: ") + e.what(), 0);
        return 0;
    }
}

int SCRIPTRT_CALL _uc_error(char *buffer, int size)
{
    const std::string text = g_rt ? g_rt->lastError : "error: the interpreter is not initialised";
    writeText(buffer, size, text);
    if (g_rt) {
        g_rt->errorBuffer = buffer;
        g_rt->errorBufferSize = size;
    }
    return static_cast<int>(text.size());
}

int SCRIPTRT_CALL _uc_error_pos(char *buffer)
{
    if (!g_rt)
        return 0;
    if (buffer && buffer == g_rt->errorBuffer)
        writeText(buffer, g_rt->errorBufferSize, g_rt->lastError);
    return g_rt->lastErrorPos;
}

int SCRIPTRT_CALL _uc_main(int, char **)
{
    return notSupported("_uc_main");
}

int SCRIPTRT_CALL _uc_interactive_loop()
{
    return notSupported("an interactive loop");
}

int SCRIPTRT_CALL _uc_main_window()
{
    return notSupported("a main window");
}

int SCRIPTRT_CALL _uc_load(const char *)
{
    return notSupported("loading program files");
}

int SCRIPTRT_CALL _uc_set_quote(int, int)
{
    return notSupported("changing the quote characters");
}

int SCRIPTRT_CALL _uc_init_ref(const char *, const char *, void *)
{
    return notSupported("binding host variables");
}

int SCRIPTRT_CALL _uc_compile(const char *, const char *)
{
    return notSupported("compiling named functions");
}

int uc_eval_args(void *, void *, ...)
{
    return notSupported("calling compiled functions");
}

int uc_eval_method_args(void *, void *, void *, ...)
{
    return notSupported("calling compiled methods");
}

void *SCRIPTRT_CALL _uc_compile_fn(const char *, const char *)
{
    notSupported("compiling functions");
    return nullptr;
}

} // extern "C"
