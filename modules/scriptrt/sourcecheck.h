#pragma once

#include <cstddef>
#include <string>

namespace AngelScript {
class asIScriptEngine;
}

// Checks of a script text made with the interpreter's own tokenizer before it is compiled: the
// depth of recursion the parser and compiler would need, and number literals, which are put in a
// form the interpreter reads exactly.
namespace scriptrt {

// Brackets nested deeper than this are refused.
inline constexpr int kMaxBracketNesting = 256;
// The recursion estimate of one statement (nested statements, operators and brackets) may not
// exceed this. The parser and compiler need at most about 1.3 KB of stack per unit, so the
// compiler thread's stack covers it many times over.
inline constexpr int kMaxRecursionDepth = 20000;
// Conditional operators chained in one statement: the compiler's time grows with the cube of
// their depth.
inline constexpr int kMaxConditionals = 64;

// The interpreter formats its compile messages in a buffer of 1 KB and reads garbage (or crashes)
// past it: names, literals and argument lists, which its messages quote, are kept well below.
inline constexpr std::size_t kMaxNameLength = 100;
inline constexpr std::size_t kMaxLiteralLength = 400;
inline constexpr int kMaxListItems = 48;

// Empty when compiling `text` stays within the limits above (and applies no bitwise operator to
// a text constant, which aborts the interpreter, nor divides constants in a way that overflows,
// which the interpreter folds to 0 without a word), else an "error: ..." text saying what and where
// (line and column when `withPosition`). `deepest`, when given, receives the largest recursion
// estimate met.
std::string checkNesting(const AngelScript::asIScriptEngine &engine, const std::string &text,
                         bool withPosition, int *deepest = nullptr);

// Copies `text` into `out` with every floating-point literal that the interpreter's own scanner
// would not read as the correctly rounded value replaced by an exact constant expression.
// Returns an "error: ..." text naming a malformed or out-of-range literal, else empty.
std::string exactNumbers(const AngelScript::asIScriptEngine &engine,
                         const std::string &text,
                         std::string &out,
                         bool withPosition);

// The correctly rounded value of a decimal floating-point literal as the tokenizer delimits it
// ("1.5", "2e-3", ".5", "1.", optionally with an "f" suffix); false when it is malformed, too
// large for a double, or not a floating-point literal.
bool readFloatingLiteral(const std::string &token, double &value);

// A constant expression the interpreter evaluates to exactly `value` (finite, not negative).
std::string exactDoubleExpression(double value);

} // namespace scriptrt
