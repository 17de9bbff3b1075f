#include "constantfold.h"

#include <charconv>
#include <cstdint>
#include <limits>
#include <unordered_map>

namespace scriptrt {

namespace {

// An integer constant as the compiler holds it: int, uint, int64 or uint64. Anything else the
// walk meets (a variable, a call, a double, a truth value) is not known.
struct IntValue
{
    bool known = false;
    bool wide = false; // 64 bits, else 32
    bool isUnsigned = false;
    std::uint64_t bits = 0; // two's complement, cut to the width
};

IntValue makeValue(bool wide, bool isUnsigned, std::uint64_t bits)
{
    return {true, wide, isUnsigned, wide ? bits : bits & 0xFFFFFFFFu};
}

// The value's 64-bit pattern: sign-extended when it is a signed 32-bit value.
std::uint64_t extended(const IntValue &v)
{
    if (v.wide || v.isUnsigned)
        return v.bits;
    return static_cast<std::uint64_t>(
        static_cast<std::int64_t>(static_cast<std::int32_t>(static_cast<std::uint32_t>(v.bits))));
}

IntValue converted(const IntValue &v, bool wide, bool isUnsigned)
{
    return v.known ? makeValue(wide, isUnsigned, extended(v)) : IntValue{};
}

struct IntType
{
    bool integral; // false: a type whose values the walk does not follow
    bool wide;
    bool isUnsigned;
};

bool typeNamed(std::string_view t, IntType &type)
{
    static const std::pair<std::string_view, IntType> types[] = {{"int", {true, false, false}},
                                                                 {"int32", {true, false, false}},
                                                                 {"int64", {true, true, false}},
                                                                 {"uint", {true, false, true}},
                                                                 {"uint32", {true, false, true}},
                                                                 {"uint64", {true, true, true}},
                                                                 {"int8", {false, false, false}},
                                                                 {"int16", {false, false, false}},
                                                                 {"uint8", {false, false, false}},
                                                                 {"uint16", {false, false, false}},
                                                                 {"float", {false, false, false}},
                                                                 {"double", {false, false, false}},
                                                                 {"bool", {false, false, false}},
                                                                 {"void", {false, false, false}},
                                                                 {"auto", {false, false, false}}};
    for (const auto &[name, value] : types)
        if (name == t) {
            type = value;
            return true;
        }
    return false;
}

// A decimal literal is an int up to 31 bits, an int64 up to 63 and a uint64 beyond; a
// hexadecimal one is a uint, or a uint64 beyond 32 bits.
IntValue literalValue(std::string_view t)
{
    std::uint64_t v = 0;
    if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
        const auto [end, ec] = std::from_chars(t.data() + 2, t.data() + t.size(), v, 16);
        if (ec != std::errc() || end != t.data() + t.size())
            return {};
        return makeValue(v > 0xFFFFFFFFu, true, v);
    }
    const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
    if (ec != std::errc() || end != t.data() + t.size())
        return {};
    if (v >> 63)
        return makeValue(true, true, v);
    return makeValue((v >> 31) != 0, false, v);
}

bool isPrefixOperator(std::string_view t)
{
    return t == "-" || t == "+" || t == "~" || t == "!" || t == "not" || t == "++" || t == "--"
           || t == "@";
}

constexpr int kUnaryPrecedence = 100;

struct PendingOperator
{
    std::string_view text;
    int precedence;
    bool unary;
    size_t token;
};

// The operands and operators of one bracket level, reduced by precedence as they come.
struct Frame
{
    enum Kind { Top, Group, Call, Cast, Index } kind = Top;
    IntType castType{};
    bool broken = false; // more than one expression inside: not a single value
    bool expectOperand = true;
    std::vector<IntValue> values;
    std::vector<PendingOperator> operators;
};

class FoldWalk
{
public:
    FoldWalk(const std::vector<SourceToken> &tokens,
             std::unordered_map<std::string_view, IntValue> &constants,
             const std::unordered_map<std::string_view, int> *declarations)
        : m_tokens(tokens)
        , m_constants(constants)
        , m_declarations(declarations)
    {}

    // The index of the first overflowing division or remainder, or npos.
    size_t run();

private:
    IntValue unary(const PendingOperator &op, const IntValue &a);
    IntValue binary(const PendingOperator &op, const IntValue &a, const IntValue &b);
    void reduceOne(Frame &f);
    void reduceWhile(Frame &f, int minPrecedence);
    IntValue finish(Frame &f);
    void pushValue(Frame &f, const IntValue &v);
    void endExpression(std::string_view t);
    bool declaresConstant(size_t i, IntType &type) const;

    const std::vector<SourceToken> &m_tokens;
    std::unordered_map<std::string_view, IntValue> &m_constants;
    // How often each name is declared; null when the text declares no constants.
    const std::unordered_map<std::string_view, int> *m_declarations;
    std::vector<Frame> m_frames;
    size_t m_found = std::string::npos;

    // A "const <integer type> NAME = ..." at the outer level whose value is still being read.
    std::string_view m_pendingName;
    IntType m_pendingType{};
    bool m_pendingFirst = false; // the first declarator of its statement
};

IntValue FoldWalk::unary(const PendingOperator &op, const IntValue &a)
{
    if (!a.known)
        return {};
    if (op.text == "+")
        return a;
    if (op.text == "-") // negating gives a signed value of the same width
        return makeValue(a.wide, false, std::uint64_t(0) - a.bits);
    if (op.text == "~") // the complement is unsigned
        return makeValue(a.wide, true, ~a.bits);
    return {};
}

IntValue FoldWalk::binary(const PendingOperator &op, const IntValue &a, const IntValue &b)
{
    if (!a.known || !b.known)
        return {};
    const std::string_view t = op.text;
    if (t == "<<" || t == ">>" || t == ">>>") {
        // The shifted value keeps its type; counts outside the width are not followed.
        const int width = a.wide ? 64 : 32;
        if (b.wide && !a.wide)
            return {};
        const auto count = static_cast<std::int64_t>(extended(b));
        if (count < 0 || count >= width)
            return {};
        if (t == "<<")
            return makeValue(a.wide, a.isUnsigned, a.bits << count);
        if (t == ">>") // a logical shift
            return makeValue(a.wide, a.isUnsigned, a.bits >> count);
        if (a.isUnsigned)
            return {};
        return makeValue(
            a.wide,
            false,
            static_cast<std::uint64_t>(static_cast<std::int64_t>(extended(a)) >> count));
    }
    const bool bitwise = t == "&" || t == "|" || t == "^";
    if (!(bitwise || t == "+" || t == "-" || t == "*" || t == "/" || t == "%"))
        return {};
    if (bitwise && a.isUnsigned != b.isUnsigned)
        return {};
    // Both operands go to the wider type, unsigned when either is.
    const bool wide = a.wide || b.wide;
    const bool isUnsigned = a.isUnsigned || b.isUnsigned;
    const std::uint64_t x = converted(a, wide, isUnsigned).bits;
    const std::uint64_t y = converted(b, wide, isUnsigned).bits;
    if (t == "&")
        return makeValue(wide, isUnsigned, x & y);
    if (t == "|")
        return makeValue(wide, isUnsigned, x | y);
    if (t == "^")
        return makeValue(wide, isUnsigned, x ^ y);
    if (t == "+")
        return makeValue(wide, isUnsigned, x + y);
    if (t == "-")
        return makeValue(wide, isUnsigned, x - y);
    if (t == "*")
        return makeValue(wide, isUnsigned, x * y);
    if (y == 0)
        return {}; // the compiler reports a division by zero itself
    if (isUnsigned)
        return makeValue(wide, true, t == "/" ? x / y : x % y);
    const auto sx = static_cast<std::int64_t>(extended(makeValue(wide, false, x)));
    const auto sy = static_cast<std::int64_t>(extended(makeValue(wide, false, y)));
    const std::int64_t smallest = wide ? std::numeric_limits<std::int64_t>::min()
                                       : std::numeric_limits<std::int32_t>::min();
    if (sx == smallest && sy == -1) {
        if (m_found == std::string::npos)
            m_found = op.token;
        return makeValue(wide, false, 0); // what the compiler makes of it
    }
    return makeValue(wide, false, static_cast<std::uint64_t>(t == "/" ? sx / sy : sx % sy));
}

void FoldWalk::reduceOne(Frame &f)
{
    const PendingOperator op = f.operators.back();
    f.operators.pop_back();
    const size_t needed = op.unary ? 1 : 2;
    if (f.values.size() < needed) { // not an expression the walk understands
        f.values.clear();
        f.operators.clear();
        return;
    }
    const IntValue b = f.values.back();
    f.values.pop_back();
    if (op.unary) {
        f.values.push_back(unary(op, b));
        return;
    }
    const IntValue a = f.values.back();
    f.values.back() = binary(op, a, b);
}

void FoldWalk::reduceWhile(Frame &f, int minPrecedence)
{
    while (!f.operators.empty() && f.operators.back().precedence >= minPrecedence)
        reduceOne(f);
}

// Reduces what the frame holds and starts it afresh; its value when it held one expression.
IntValue FoldWalk::finish(Frame &f)
{
    reduceWhile(f, 0);
    const IntValue v = f.values.size() == 1 ? f.values.front() : IntValue{};
    f.values.clear();
    f.operators.clear();
    f.expectOperand = true;
    return v;
}

void FoldWalk::pushValue(Frame &f, const IntValue &v)
{
    f.values.push_back(v);
    f.expectOperand = false;
}

// A token that is no part of an integer expression ends the one being read: a separator, an
// assignment, "?:", a keyword.
void FoldWalk::endExpression(std::string_view t)
{
    Frame &f = m_frames.back();
    const IntValue v = finish(f);
    if (f.kind != Frame::Top)
        f.broken = true;
    if (m_pendingName.empty() || m_frames.size() != 1)
        return;
    // The first declarator follows its type, so it is counted as declared; later ones are not.
    // A name declared anywhere else may be another variable: it is not followed.
    int count = 0;
    if (m_declarations) {
        const auto declared = m_declarations->find(m_pendingName);
        count = declared != m_declarations->end() ? declared->second : 0;
    }
    if ((t == ";" || t == ",") && v.known && m_declarations && count == (m_pendingFirst ? 1 : 0))
        m_constants[m_pendingName] = converted(v, m_pendingType.wide, m_pendingType.isUnsigned);
    m_pendingName = {};
}

// "const <int type> NAME =" at token i.
bool FoldWalk::declaresConstant(size_t i, IntType &type) const
{
    return m_tokens[i].text == "const" && i + 3 < m_tokens.size()
           && typeNamed(m_tokens[i + 1].text, type) && type.integral
           && m_tokens[i + 2].kind == SourceToken::Identifier && m_tokens[i + 3].text == "=";
}

size_t FoldWalk::run()
{
    m_frames.assign(1, Frame{});
    const size_t n = m_tokens.size();
    for (size_t i = 0; i < n && m_found == std::string::npos; ++i) {
        const SourceToken &token = m_tokens[i];
        const std::string_view t = token.text;
        if (t == ")" || t == "]") {
            if (m_frames.size() == 1) { // unbalanced: the compiler refuses it
                endExpression(t);
                continue;
            }
            const IntValue v = finish(m_frames.back());
            const Frame closed = std::move(m_frames.back());
            m_frames.pop_back();
            Frame &parent = m_frames.back();
            if (closed.kind == Frame::Group)
                pushValue(parent, closed.broken ? IntValue{} : v);
            else if (closed.kind == Frame::Cast)
                pushValue(parent,
                          closed.broken || !closed.castType.integral
                              ? IntValue{}
                              : converted(v, closed.castType.wide, closed.castType.isUnsigned));
            else
                parent.expectOperand = false; // the call or element is already an unknown value
            continue;
        }
        if (t == ",") {
            // Between declarators of a constant, the next one may follow.
            const std::string_view pending = m_pendingName;
            endExpression(t);
            if (!pending.empty() && m_frames.size() == 1 && i + 2 < n
                && m_tokens[i + 1].kind == SourceToken::Identifier && m_tokens[i + 2].text == "=") {
                m_pendingName = m_tokens[i + 1].text;
                m_pendingFirst = false;
                i += 2;
            }
            continue;
        }
        Frame &f = m_frames.back();
        if (f.expectOperand) {
            IntType type{};
            if (t == "(") {
                m_frames.push_back(Frame{});
                m_frames.back().kind = Frame::Group;
            } else if (token.kind == SourceToken::Value) {
                pushValue(f, literalValue(t));
            } else if (typeNamed(t, type) && i + 1 < n && m_tokens[i + 1].text == "(") {
                m_frames.push_back(Frame{});
                m_frames.back().kind = Frame::Cast;
                m_frames.back().castType = type;
                ++i;
            } else if (token.kind == SourceToken::Identifier) {
                const auto known = m_constants.find(t);
                pushValue(f, known != m_constants.end() ? known->second : IntValue{});
            } else if (t == "true" || t == "false" || t == "null" || t == "this" || t == "super") {
                pushValue(f, IntValue{});
            } else if (isPrefixOperator(t)) {
                f.operators.push_back({t, kUnaryPrecedence, true, i});
            } else if (declaresConstant(i, type)) {
                endExpression(t);
                if (m_frames.size() == 1) {
                    m_pendingName = m_tokens[i + 2].text;
                    m_pendingType = type;
                    m_pendingFirst = true;
                }
                i += 3;
            } else {
                endExpression(t);
            }
            continue;
        }
        // After an operand. A call, an element, a member or a step makes it a variable.
        const bool postfix
            = t == "(" || t == "[" || t == "." || t == "::" || t == "++" || t == "--";
        if (postfix && !f.values.empty())
            f.values.back() = IntValue{};
        if (t == "(" || t == "[") {
            m_frames.push_back(Frame{});
            m_frames.back().kind = t == "(" ? Frame::Call : Frame::Index;
        } else if (t == "." || t == "::") {
            if (i + 1 < n && m_tokens[i + 1].kind == SourceToken::Identifier)
                ++i;
        } else if (postfix) {
            // "++" or "--": nothing more to do
        } else if (const int p = binaryPrecedence(t); p > 0) {
            reduceWhile(f, t == "**" ? p + 1 : p); // "**" groups from the right
            f.operators.push_back({t, p, false, i});
            f.expectOperand = true;
        } else {
            endExpression(t);
            --i; // the token may begin the next expression
        }
    }
    while (m_found == std::string::npos && !m_frames.empty()) {
        finish(m_frames.back());
        m_frames.pop_back();
    }
    return m_found;
}

} // namespace

int binaryPrecedence(std::string_view t)
{
    static const std::pair<std::string_view, int> table[]
        = {{"||", 1}, {"or", 1}, {"^^", 2},  {"xor", 2}, {"&&", 3}, {"and", 3}, {"==", 4},
           {"!=", 4}, {"is", 4}, {"!is", 4}, {"<", 5},   {"<=", 5}, {">", 5},   {">=", 5},
           {"|", 6},  {"^", 7},  {"&", 8},   {"<<", 9},  {">>", 9}, {">>>", 9}, {"+", 10},
           {"-", 10}, {"*", 11}, {"/", 11},  {"%", 11},  {"**", 12}};
    for (const auto &[op, p] : table)
        if (op == t)
            return p;
    return 0;
}

std::string checkFoldedDivisions(const std::vector<SourceToken> &tokens, bool withPosition)
{
    std::unordered_map<std::string_view, IntValue> constants;
    std::unordered_map<std::string_view, int> declarations;
    bool declaresConstants = false;
    for (size_t k = 0; k + 1 < tokens.size(); ++k) {
        IntType type{};
        declaresConstants = declaresConstants || tokens[k].text == "const";
        // A name after a type (or a class name) is being declared; a constant is followed only
        // when its name is declared once in the whole text.
        if (tokens[k + 1].kind == SourceToken::Identifier
            && (tokens[k].kind == SourceToken::Identifier || typeNamed(tokens[k].text, type)))
            ++declarations[tokens[k + 1].text];
    }
    size_t found = FoldWalk(tokens, constants, declaresConstants ? &declarations : nullptr).run();
    // Constants may be used before their declaration (globals): once more, knowing all of them.
    if (found == std::string::npos && !constants.empty())
        found = FoldWalk(tokens, constants, &declarations).run();
    if (found == std::string::npos)
        return {};
    std::string text = "error: Overflow in integer division";
    if (withPosition)
        text += " (line " + std::to_string(tokens[found].line) + ", column "
                + std::to_string(tokens[found].column) + ")";
    return text;
}

} // namespace scriptrt
