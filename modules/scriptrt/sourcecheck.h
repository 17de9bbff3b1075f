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
// Names other than the function's own local variables (global variables and constants,
// functions called) and conditional operators in one statement: the compiler keeps
// a temporary for each while it compiles the rest of the statement and scans all of them at each
// new one, so its time grows with their cube.
inline constexpr int kMaxNamesInStatement = 256;
// Branches of one if-else-if chain: the compiler's time grows faster than their square.
inline constexpr int kMaxElseIfBranches = 512;
// Local variables declared in one function, all its blocks counted together. The compiler's time
// grows with their square, and their slots must stay far below the 32,767 its byte code can
// address: the largest type held in place (a text, 8 slots) times this leaves ample room for
// the temporaries of a statement.
inline constexpr int kMaxLocalVariables = 1024;
// Loops ("for", "while", "do") and switch cases in one function, and namespaces in one text: the
// compiler's time grows with the square of each (with the cube for "for" loops).
inline constexpr int kMaxLoops = 256;
inline constexpr int kMaxCases = 1024;
inline constexpr int kMaxNamespaces = 256;

// The interpreter formats its compile messages in a buffer of 1 KB and reads garbage (or crashes)
// past it: names, literals and argument lists, which its messages quote, are kept well below.
inline constexpr std::size_t kMaxNameLength = 100;
inline constexpr std::size_t kMaxLiteralLength = 400;
inline constexpr int kMaxListItems = 48;

// Empty when `formula` is one expression, else an "error: ..." text naming the first token that
// is not part of one: a ";" or a brace (statements), a comma outside brackets, or a closing
// bracket without its opening one (which would close the function the formula is compiled in).
std::string checkExpression(const AngelScript::asIScriptEngine &engine, const std::string &formula);

// Empty when compiling `text` stays within the limits above (and applies no bitwise operator to
// a text constant, which aborts the interpreter, nor divides constants in a way that overflows,
// which the interpreter folds to 0 without a word), else an "error: ..." text saying what and where
// (line and column when `withPosition`). `deepest`, when given, receives the largest recursion
// estimate met.
std::string checkNesting(const AngelScript::asIScriptEngine &engine,
                         const std::string &text,
                         bool withPosition,
                         int *deepest = nullptr);

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
