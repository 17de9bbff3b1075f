#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Splits a formula into its shape (the text with every plain number literal replaced by a typed
// parameter) and the literal values, so that formulas differing only in their numbers share one
// compiled function.
namespace scriptrt {

struct ShapeArgument
{
    enum Kind { Int, Int64, UInt64, Double } kind = Int;
    std::uint64_t intValue = 0; // the literal's bits, for the integer kinds
    double doubleValue = 0.0;
};

struct FormulaShape
{
    // Source of a function "void <name>(params) { <sink>(<shaped formula>); }", also the cache key.
    std::string code;
    std::vector<ShapeArgument> arguments;
    // The formula divides. Literals are folded at compile time and a division by a literal zero
    // is a compile error even in a branch that never runs, so when it also chooses branches
    // (?:, &&, ||) its shape may succeed where the text as written fails: foldingSensitive.
    bool divides = false;
    bool foldingSensitive = false;
};

// The source of "void <functionName>(<params>) { <sink>(<body>); }": how a formula is wrapped
// for compiling, as written or shaped. The line break ends a line comment at the formula's end.
std::string formulaFunctionCode(const char *functionName, const std::string &params,
                                const char *sink, const std::string &body);

// False when the formula holds something whose meaning could change by turning its literals into
// parameters (upper-case letters, comments, literals in forms not handled here); such a formula
// is compiled as written instead. `sink` is the result function the shaped formula is passed to.
bool makeFormulaShape(const char *formula, const char *functionName, const char *sink,
                      FormulaShape &shape);

} // namespace scriptrt
