#include "sourcecheck.h"

#include "constantfold.h"

#include <angelscript.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <unordered_map>
#include <vector>

namespace AngelScript {
// The interpreter's own literal scanner, which the compiler uses for every floating literal. It
// is not correctly rounded (and reads subnormal numbers as 0, the largest ones as infinite).
double asStringScanDouble(const char *string, size_t *numScanned);
} // namespace AngelScript

namespace scriptrt {

namespace {

using AngelScript::asETokenClass;

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

// Walks the tokens of a text as the interpreter's tokenizer delimits them, keeping the line and
// column (1-based, in bytes) where each starts.
class TokenWalker
{
public:
    TokenWalker(const AngelScript::asIScriptEngine &engine, const std::string &text)
        : m_engine(engine)
        , m_text(text)
    {}

    // The next token; false at the end of the text.
    bool next()
    {
        advancePosition();
        if (m_pos >= m_text.size())
            return false;
        AngelScript::asUINT length = 0;
        m_class = m_engine.ParseToken(m_text.data() + m_pos, m_text.size() - m_pos, &length);
        m_length = length > 0 ? length : 1;
        return true;
    }

    // The next token that is neither blank nor comment; false at the end.
    bool nextSignificant()
    {
        while (next())
            if (m_class != AngelScript::asTC_WHITESPACE && m_class != AngelScript::asTC_COMMENT)
                return true;
        return false;
    }

    asETokenClass tokenClass() const { return m_class; }
    std::string_view token() const { return {m_text.data() + m_pos, m_length}; }
    int line() const { return m_line; }
    int column() const { return m_column; }
    std::string position() const
    {
        return " (line " + std::to_string(m_line) + ", column " + std::to_string(m_column) + ")";
    }

private:
    void advancePosition()
    {
        for (size_t i = m_pos; i < m_pos + m_length && i < m_text.size(); ++i) {
            if (m_text[i] == '\n') {
                ++m_line;
                m_column = 1;
            } else {
                ++m_column;
            }
        }
        m_pos += m_length;
        m_length = 0;
    }

    const AngelScript::asIScriptEngine &m_engine;
    const std::string &m_text;
    size_t m_pos = 0;
    size_t m_length = 0;
    int m_line = 1;
    int m_column = 1;
    asETokenClass m_class = AngelScript::asTC_UNKNOWN;
};

bool isStatementKeyword(std::string_view t)
{
    return t == "if" || t == "else" || t == "while" || t == "for" || t == "do" || t == "switch"
           || t == "case";
}

// After a closing brace, a token that cannot continue an expression or an if-else: the
// statement (and with it the parser's recursion) has ended.
bool startsNewStatement(asETokenClass cls, std::string_view t)
{
    if (t == "else")
        return false;
    if (cls == AngelScript::asTC_IDENTIFIER || cls == AngelScript::asTC_VALUE)
        return true;
    return !t.empty() && (isLetter(t[0]) || t == "{" || t == "}" || t == ";");
}

bool isPrimitiveType(std::string_view t)
{
    static const std::string_view primitives[] = {"bool",
                                                  "int",
                                                  "int8",
                                                  "int16",
                                                  "int32",
                                                  "int64",
                                                  "uint",
                                                  "uint8",
                                                  "uint16",
                                                  "uint32",
                                                  "uint64",
                                                  "float",
                                                  "double",
                                                  "auto"};
    return std::find(std::begin(primitives), std::end(primitives), t) != std::end(primitives);
}

// Whether `t` can end the type of a declaration: a type name, a primitive type, a handle or an
// array mark.
bool namesType(std::string_view t)
{
    if (t.empty())
        return false;
    if (t == "@" || t == "]" || isPrimitiveType(t))
        return true;
    return isLetter(t[0]) && !isStatementKeyword(t) && t != "return" && t != "const" && t != "not"
           && t != "and" && t != "or" && t != "xor" && t != "is" && t != "in" && t != "out"
           && t != "inout" && t != "break" && t != "continue" && t != "default";
}

bool isNumberToken(std::string_view t)
{
    return !t.empty() && (isDigit(t[0]) || (t[0] == '.' && t.size() > 1 && isDigit(t[1])));
}

// The value of a normalised literal ("12.50e-3") when its digits form an integer below 2^53 and
// its power of ten is at most 22 either way: both are then exact doubles, and one
// multiplication or division rounds correctly. The common case, without the general reader.
bool fastExactValue(const std::string &s, double &value)
{
    static const double powers[]
        = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
           1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    std::uint64_t mantissa = 0;
    int digits = 0;
    int exponent = 0;
    size_t i = 0;
    bool point = false;
    for (; i < s.size() && s[i] != 'e'; ++i) {
        if (s[i] == '.') {
            point = true;
            continue;
        }
        if (mantissa == 0 && s[i] == '0') {
            exponent -= point ? 1 : 0;
            continue;
        }
        if (++digits > 15)
            return false;
        mantissa = mantissa * 10 + static_cast<std::uint64_t>(s[i] - '0');
        exponent -= point ? 1 : 0;
    }
    if (i < s.size()) {
        const std::string_view e(s.data() + i + 1, s.size() - i - 1);
        int written = 0;
        const auto [ptr, ec]
            = std::from_chars(e.data() + (e[0] == '+' ? 1 : 0), e.data() + e.size(), written);
        if (ec != std::errc() || ptr != e.data() + e.size())
            return false;
        // Beyond this the value is not exact either way; the sum below cannot overflow.
        if (written < -1000 || written > 1000)
            return false;
        exponent += written;
    }
    if (mantissa == 0) {
        value = 0.0;
        return true;
    }
    if (exponent < -22 || exponent > 22)
        return false;
    const double m = static_cast<double>(mantissa);
    value = exponent < 0 ? m / powers[-exponent] : m * powers[exponent];
    return true;
}

bool isBitwiseOperator(std::string_view t)
{
    const int p = binaryPrecedence(t);
    return p >= 6 && p <= 9;
}

// Tokens that end an operand whatever the operators around: separators, assignments, "?:".
bool endsOperand(std::string_view t)
{
    return t == "," || t == ";" || t == "{" || t == "}" || t == "?" || t == ":"
           || (t.size() >= 1 && t.back() == '=' && binaryPrecedence(t) == 0);
}

std::string positionText(const SourceToken &token)
{
    return " (line " + std::to_string(token.line) + ", column " + std::to_string(token.column)
           + ")";
}

// The significant tokens of a text.
std::vector<SourceToken> significantTokens(const AngelScript::asIScriptEngine &engine,
                                           const std::string &text)
{
    std::vector<SourceToken> tokens;
    TokenWalker walker(engine, text);
    while (walker.nextSignificant()) {
        SourceToken::Kind kind = SourceToken::Other;
        switch (walker.tokenClass()) {
        case AngelScript::asTC_KEYWORD:
            kind = SourceToken::Keyword;
            break;
        case AngelScript::asTC_IDENTIFIER:
            kind = SourceToken::Identifier;
            break;
        case AngelScript::asTC_VALUE:
            kind = SourceToken::Value;
            break;
        default:
            break;
        }
        tokens.push_back({kind, walker.token(), walker.line(), walker.column()});
    }
    return tokens;
}

// A bitwise or shift operator with a text or a boolean operand never compiles; when that operand
// is a constant ("2 & \"a\"", "true | 7", "(1 < 2) & 1") the interpreter tries to fold it as
// an integer and aborts the process. Such operators are refused before it sees them. Operands
// are delimited by precedence, so "(n & 1) == 0" and "x > 3 | 1" pass.
std::string checkTextOperands(const std::vector<SourceToken> &tokens, bool withPosition)
{
    // The other bracket of each pair, else -1.
    std::vector<std::ptrdiff_t> match(tokens.size(), -1);
    std::vector<std::ptrdiff_t> open;
    for (size_t k = 0; k < tokens.size(); ++k) {
        const std::string_view t = tokens[k].text;
        const auto at = static_cast<std::ptrdiff_t>(k);
        if (t == "(" || t == "[") {
            open.push_back(at);
        } else if ((t == ")" || t == "]") && !open.empty()) {
            match[k] = open.back();
            match[static_cast<size_t>(open.back())] = at;
            open.pop_back();
        }
    }
    using Token = SourceToken;
    auto matchOf = [&](std::ptrdiff_t k) { return match[static_cast<size_t>(k)]; };
    auto tok = [&](std::ptrdiff_t k) -> const Token & { return tokens[static_cast<size_t>(k)]; };
    const auto n = static_cast<std::ptrdiff_t>(tokens.size());
    // Names declared "bool" (a "const bool" is a constant too).
    std::vector<std::string_view> truthNames;
    for (std::ptrdiff_t k = 0; k + 1 < n; ++k)
        if (tok(k).text == "bool" && tok(k + 1).kind == SourceToken::Identifier)
            truthNames.push_back(tok(k + 1).text);
    // Whether the tokens [from, to] hold, outside calls, a text literal or something boolean.
    std::function<bool(std::ptrdiff_t, std::ptrdiff_t)> suspect = [&](std::ptrdiff_t from,
                                                                      std::ptrdiff_t to) {
        for (std::ptrdiff_t k = from; k <= to; ++k) {
            const Token &t = tok(k);
            if ((t.text == "(" || t.text == "[") && matchOf(k) > k) {
                const bool call
                    = t.text == "(" && k > 0 && tok(k - 1).kind == SourceToken::Identifier;
                if (!call && suspect(k + 1, matchOf(k) - 1))
                    return true;
                k = matchOf(k);
                continue;
            }
            const int p = binaryPrecedence(t.text);
            if ((t.kind == SourceToken::Value && (t.text[0] == '"' || t.text[0] == '\''))
                || t.text == "true" || t.text == "false" || t.text == "!" || t.text == "not"
                || (p >= 1 && p <= 5)
                || (t.kind == SourceToken::Identifier
                    && std::find(truthNames.begin(), truthNames.end(), t.text) != truthNames.end()))
                return true;
        }
        return false;
    };
    for (std::ptrdiff_t i = 0; i < n; ++i) {
        const Token &op = tok(i);
        if (op.kind != SourceToken::Keyword || !isBitwiseOperator(op.text))
            continue;
        const int p = binaryPrecedence(op.text);
        // The left operand: back to an operator binding no tighter, or a bracket or separator.
        std::ptrdiff_t left = i;
        for (std::ptrdiff_t k = i - 1; k >= 0; --k) {
            const Token &t = tok(k);
            if ((t.text == ")" || t.text == "]") && matchOf(k) >= 0) {
                left = k = matchOf(k);
                continue;
            }
            const int q = binaryPrecedence(t.text);
            if (t.text == "(" || t.text == "[" || t.text == ")" || t.text == "]"
                || endsOperand(t.text) || (q > 0 && q <= p))
                break;
            left = k;
        }
        // The right operand: on to an operator binding no tighter (a leading sign is unary).
        std::ptrdiff_t right = i;
        for (std::ptrdiff_t k = i + 1; k < n; ++k) {
            const Token &t = tok(k);
            if ((t.text == "(" || t.text == "[") && matchOf(k) > k) {
                right = k = matchOf(k);
                continue;
            }
            const int q = binaryPrecedence(t.text);
            if (t.text == "(" || t.text == "[" || t.text == ")" || t.text == "]"
                || endsOperand(t.text) || (q > 0 && q <= p && k > i + 1))
                break;
            right = k;
        }
        if ((left < i && suspect(left, i - 1)) || (right > i && suspect(i + 1, right)))
            return "error: the bitwise operator '" + std::string(op.text)
                   + "' does not apply to a text or a truth value"
                   + (withPosition ? positionText(op) : std::string());
    }
    return {};
}

} // namespace

// The estimate counts, per statement, every nesting keyword, operator and bracket level: each
// of them costs the recursive-descent parser and the compiler at most one level of recursion. A
// statement's count ends at its ";" (unless an "else" follows) or at the closing brace of a block
// that nothing continues; a comma ends the operators' count of one argument, list element or
// declarator, not that of the statements around it.
std::string checkNesting(const AngelScript::asIScriptEngine &engine,
                         const std::string &text,
                         bool withPosition,
                         int *deepest)
{
    struct Frame
    {
        int base;
        int keywords;
        int operators;
        int conditionals;
        int commas;
        int names;
        int elseIfs;
        size_t scopeStart; // where the locals declared in this bracket start in `scope`
        char opener;       // the bracket this frame was opened by
    };
    std::vector<Frame> frames;
    int base = 0;
    int keywords = 0;  // nesting statement keywords of the current statement
    int operators = 0; // operators of its current expression
    int conditionals = 0;
    int commas = 0;  // in the innermost parenthesis
    int names = 0;   // names and conditional operators of the current statement
    int elseIfs = 0; // "else if" of the current statement
    int braces = 0;  // open braces: inside one, declarations are local variables
    int locals = 0;  // local variables declared in the current outermost braces
    int loops = 0;   // loops and switch cases there
    int cases = 0;
    int namespaces = 0;
    // The locals in scope, with how many blocks declare each: reading a local costs the compiler
    // no temporary, so they are not counted as names. Those declared between parentheses (a for
    // statement's) are counted all the same; their scope ends with a statement, not a bracket.
    std::vector<std::string_view> scope;
    std::unordered_map<std::string_view, int> localNames;
    bool declaring = false; // in a declaration statement, whose commas start new declarators
    bool declaringKnownType = false; // of a primitive or registered type: certainly a local
    size_t declaringLevel = 0;
    std::string_view before;   // the significant token before `previous`
    std::string_view previous; // the significant token before the current one
    asETokenClass previousClass = AngelScript::asTC_UNKNOWN;
    enum { None, AfterSemicolon, AfterBrace } pending = None;
    TokenWalker walker(engine, text);
    int maxLevel = 0;
    auto where = [&] { return withPosition ? walker.position() : std::string(); };
    auto tooDeep = [&] {
        return "error: statements or expressions nested more than "
               + std::to_string(kMaxRecursionDepth) + " deep" + where();
    };
    while (walker.nextSignificant()) {
        const asETokenClass cls = walker.tokenClass();
        const std::string_view t = walker.token();
        if ((pending == AfterSemicolon && t != "else")
            || (pending == AfterBrace && startsNewStatement(cls, t))) {
            keywords = 0;
            operators = 0;
            conditionals = 0;
            names = 0;
            elseIfs = 0;
        }
        pending = None;
        // A name after a type, or after a declarator's comma, that something a declarator may
        // hold follows ("double a;", "string s(\"x\")", "int a = 1, b").
        // The name declared costs no temporary: it is taken off the statement's names.
        if (previousClass == AngelScript::asTC_IDENTIFIER
            && (t == "=" || t == ";" || t == "," || t == "(")
            && (namesType(before)
                || (before == "," && declaring && frames.size() == declaringLevel))) {
            if (before != ",")
                declaringKnownType
                    = isPrimitiveType(before)
                      || (isLetter(before[0])
                          && engine.GetTypeInfoByName(std::string(before).c_str()) != nullptr);
            declaring = true;
            declaringLevel = frames.size();
            if (!localNames.count(previous))
                --names;
            if (braces > 0) {
                // A name of a type the text declares, or of no type, may still be a global's
                // to the compiler (which goes on after a wrong declaration): its reads count.
                if (frames.back().opener == '{' && declaringKnownType) {
                    scope.push_back(previous);
                    ++localNames[previous];
                }
                if (++locals > kMaxLocalVariables)
                    return "error: more than " + std::to_string(kMaxLocalVariables)
                           + " local variables in one function" + where();
            }
        }
        before = previous;
        previous = t;
        previousClass = cls;
        if (cls == AngelScript::asTC_IDENTIFIER && !localNames.count(t)
            && ++names > kMaxNamesInStatement)
            return "error: more than " + std::to_string(kMaxNamesInStatement)
                   + " names in one statement" + where();
        if (cls == AngelScript::asTC_IDENTIFIER && t.size() > kMaxNameLength) {
            size_t shown = 30;
            while ((static_cast<unsigned char>(t[shown]) & 0xC0) == 0x80)
                --shown;
            return "error: the name '" + std::string(t.substr(0, shown)) + "...' is longer than "
                   + std::to_string(kMaxNameLength) + " bytes" + where();
        }
        if (cls != AngelScript::asTC_KEYWORD) {
            if (t.size() > kMaxLiteralLength)
                return "error: a literal longer than " + std::to_string(kMaxLiteralLength)
                       + " bytes" + where();
            continue;
        }
        if (t == "(" || t == "[" || t == "{") {
            if (static_cast<int>(frames.size()) >= kMaxBracketNesting)
                return "error: brackets nested more than " + std::to_string(kMaxBracketNesting)
                       + " deep" + where();
            frames.push_back({base,
                              keywords,
                              operators,
                              conditionals,
                              commas,
                              names,
                              elseIfs,
                              scope.size(),
                              t[0]});
            commas = 0;
            base += keywords + operators + 1;
            keywords = 0;
            operators = 0;
            elseIfs = 0;
            if (t == "{") {
                conditionals = 0;
                names = 0;
                declaring = false;
                ++braces;
            }
            if (base > kMaxRecursionDepth)
                return tooDeep();
        } else if (t == ")" || t == "]" || t == "}") {
            // A closing bracket without its opening one fails to compile; it never lowers the
            // depth of what follows.
            if (!frames.empty()) {
                base = frames.back().base;
                keywords = frames.back().keywords;
                operators = frames.back().operators;
                conditionals = frames.back().conditionals;
                commas = frames.back().commas;
                elseIfs = frames.back().elseIfs;
                // What a bracket held is compiled with the statement around it; a block is not.
                if (frames.back().opener == '{') {
                    names = frames.back().names;
                    for (; scope.size() > frames.back().scopeStart; scope.pop_back())
                        if (--localNames[scope.back()] == 0)
                            localNames.erase(scope.back());
                    if (--braces == 0) {
                        locals = 0;
                        loops = 0;
                        cases = 0;
                    }
                }
                frames.pop_back();
            }
            if (frames.size() < declaringLevel)
                declaring = false;
            if (t == "}")
                pending = AfterBrace;
        } else if (t == ";") {
            pending = AfterSemicolon;
            declaring = false;
        } else if (t == ",") {
            operators = 0;
            // Only between parentheses: lists in braces are data, not arguments.
            if (!frames.empty() && frames.back().opener == '(' && ++commas >= kMaxListItems)
                return "error: more than " + std::to_string(kMaxListItems)
                       + " arguments or parameters in one list" + where();
        } else if (isLetter(t[0])) {
            if (isStatementKeyword(t) && base + ++keywords + operators > kMaxRecursionDepth)
                return tooDeep();
            if (t == "if" && before == "else" && ++elseIfs > kMaxElseIfBranches)
                return "error: more than " + std::to_string(kMaxElseIfBranches)
                       + " branches in one if-else chain" + where();
            if ((t == "for" || t == "while" || t == "do") && ++loops > kMaxLoops)
                return "error: more than " + std::to_string(kMaxLoops) + " loops in one function"
                       + where();
            if (t == "case" && ++cases > kMaxCases)
                return "error: more than " + std::to_string(kMaxCases)
                       + " switch cases in one function" + where();
            if (t == "namespace" && ++namespaces > kMaxNamespaces)
                return "error: more than " + std::to_string(kMaxNamespaces) + " namespaces"
                       + where();
        } else {
            if (t == "?" && ++conditionals > kMaxConditionals)
                return "error: more than " + std::to_string(kMaxConditionals)
                       + " conditional operators in one statement" + where();
            if (t == "?" && ++names > kMaxNamesInStatement)
                return "error: more than " + std::to_string(kMaxNamesInStatement)
                       + " names in one statement" + where();
            if (base + keywords + ++operators > kMaxRecursionDepth)
                return tooDeep();
        }
        maxLevel = std::max(maxLevel, base + keywords + operators);
    }
    if (deepest)
        *deepest = maxLevel;
    const bool bitwise = text.find_first_of("&|^<>") != std::string::npos;
    const bool divides = text.find_first_of("/%") != std::string::npos;
    if (!bitwise && !divides)
        return {};
    const std::vector<SourceToken> tokens = significantTokens(engine, text);
    std::string refused = bitwise ? checkTextOperands(tokens, withPosition) : std::string();
    if (refused.empty() && divides)
        refused = checkFoldedDivisions(tokens, withPosition);
    return refused;
}

std::string checkExpression(const AngelScript::asIScriptEngine &engine, const std::string &formula)
{
    TokenWalker walker(engine, formula);
    int open = 0;
    while (walker.nextSignificant()) {
        const std::string_view t = walker.token();
        if (walker.tokenClass() != AngelScript::asTC_KEYWORD)
            continue;
        if (t == "(" || t == "[") {
            ++open;
        } else if (t == ")" || t == "]") {
            if (--open < 0)
                return "error: the formula closes a bracket it did not open" + walker.position();
        } else if (t == ";" || t == "{" || t == "}") {
            return "error: a formula is one expression; '" + std::string(t)
                   + "' is not allowed in it" + walker.position();
        } else if (t == "," && open == 0) {
            // The interpreter has no comma operator: a list here would be compiled whole as the
            // arguments of the call the formula is wrapped in, and then refused.
            return "error: a formula is one expression; ',' is allowed only between brackets"
                   + walker.position();
        }
    }
    return {};
}

bool readFloatingLiteral(const std::string &token, double &value)
{
    std::string s;
    size_t i = 0;
    const size_t n = token.size();
    int intDigits = 0;    // significant digits before the point
    int leadingZeros = 0; // zeros after the point before the first nonzero digit
    bool nonzeroSeen = false;
    bool floating = false;
    int digits = 0;
    for (; i < n && isDigit(token[i]); ++i, ++digits) {
        nonzeroSeen = nonzeroSeen || token[i] != '0';
        intDigits += nonzeroSeen ? 1 : 0;
        s += token[i];
    }
    if (s.empty())
        s += '0';
    if (i < n && token[i] == '.') {
        floating = true;
        s += '.';
        ++i;
        const size_t start = i;
        for (; i < n && isDigit(token[i]); ++i, ++digits) {
            if (!nonzeroSeen && token[i] == '0')
                ++leadingZeros;
            nonzeroSeen = nonzeroSeen || token[i] != '0';
            s += token[i];
        }
        if (i == start)
            s += '0';
    }
    if (digits == 0)
        return false;
    long exponent = 0;
    if (i < n && (token[i] == 'e' || token[i] == 'E')) {
        floating = true;
        s += 'e';
        ++i;
        bool negative = false;
        if (i < n && (token[i] == '+' || token[i] == '-')) {
            negative = token[i] == '-';
            s += token[i++];
        }
        if (i >= n || !isDigit(token[i]))
            return false;
        for (; i < n && isDigit(token[i]); ++i) {
            s += token[i];
            exponent = std::min(exponent * 10 + (token[i] - '0'), 100000L);
        }
        exponent = negative ? -exponent : exponent;
    }
    if (i < n && (token[i] == 'f' || token[i] == 'F')) {
        floating = true;
        ++i;
    }
    if (i != n || !floating)
        return false;
    if (fastExactValue(s, value))
        return true;
    const auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (ec == std::errc::result_out_of_range) {
        // Decimal magnitude of the literal: beyond the largest double it is refused; below the
        // smallest it reads as zero, as strtod reads it.
        const long magnitude = exponent + (intDigits > 0 ? intDigits : -leadingZeros);
        if (magnitude > 0)
            return false;
        value = 0.0;
        return true;
    }
    return ec == std::errc() && ptr == s.data() + s.size() && std::isfinite(value);
}

std::string exactDoubleExpression(double value)
{
    if (value == 0.0)
        return "0.0";
    // value = mantissa * 2^exponent with an odd integer mantissa below 2^53; integers of that
    // size and the powers of two below are read exactly, and multiplying or dividing by a power
    // of two is exact at every step down to the value itself.
    int exponent = 0;
    const double fraction = std::frexp(value, &exponent);
    auto mantissa = static_cast<std::uint64_t>(std::ldexp(fraction, 53));
    exponent -= 53;
    while ((mantissa & 1) == 0) {
        mantissa >>= 1;
        ++exponent;
    }
    std::string text = "(" + std::to_string(mantissa) + ".0";
    while (exponent != 0) {
        const int step = std::min(std::abs(exponent), 52);
        text += exponent > 0 ? '*' : '/';
        text += std::to_string(std::uint64_t(1) << step) + ".0";
        exponent += exponent > 0 ? -step : step;
    }
    return text + ")";
}

std::string exactNumbers(const AngelScript::asIScriptEngine &engine,
                         const std::string &text,
                         std::string &out,
                         bool withPosition)
{
    out.clear();
    out.reserve(text.size());
    TokenWalker walker(engine, text);
    while (walker.next()) {
        const std::string_view t = walker.token();
        if (walker.tokenClass() != AngelScript::asTC_VALUE || !isNumberToken(t)) {
            out += t;
            continue;
        }
        const std::string token(t);
        const bool prefixed = token.size() > 1 && token[0] == '0' && isLetter(token[1])
                              && std::strchr("xXbBoOdD", token[1]);
        const bool floating = !prefixed && token.find_first_of(".eEfF") != std::string::npos;
        if (prefixed && token.size() == 2)
            return "error: malformed number '" + token + "'"
                   + (withPosition ? walker.position() : std::string());
        if (!floating) {
            out += token;
            continue;
        }
        double value = 0.0;
        if (!readFloatingLiteral(token, value)) {
            const bool wellFormed = token.back() != 'e' && token.back() != 'E'
                                    && token.back() != '+' && token.back() != '-';
            return "error: " + std::string(wellFormed ? "number too large" : "malformed number")
                   + " '" + token + "'" + (withPosition ? walker.position() : std::string());
        }
        if (token.back() == 'f' || token.back() == 'F') {
            out += token; // a float literal: its precision is the float's, not the scanner's
            continue;
        }
        size_t scanned = 0;
        const double asRead = AngelScript::asStringScanDouble(token.c_str(), &scanned);
        if (scanned == token.size() && asRead == value
            && std::signbit(asRead) == std::signbit(value))
            out += token;
        else
            out += exactDoubleExpression(value);
    }
    return {};
}

} // namespace scriptrt
