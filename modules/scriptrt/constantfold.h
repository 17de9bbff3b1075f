#pragma once

#include <string>
#include <string_view>
#include <vector>

// The interpreter folds integer expressions of constants while compiling. Dividing the smallest
// int or int64 by -1 that way gives 0 without any message, where the same division at run time
// fails with "Overflow in integer division". This check finds such divisions in a text before it
// is compiled, so that both paths give the same answer.
namespace scriptrt {

struct SourceToken
{
    enum Kind { Keyword, Identifier, Value, Other } kind;
    std::string_view text;
    int line;
    int column;
};

// How tightly a binary operator binds in the interpreter's language (higher: tighter; the bitwise
// operators bind tighter than comparisons there); 0 for anything else.
int binaryPrecedence(std::string_view t);

// Empty when no division or remainder of constants overflows, else "error: Overflow in integer
// division" followed, when `withPosition`, by the line and column of the operator. Tokens are the
// significant ones (no blanks or comments) as the interpreter's tokenizer delimits them.
std::string checkFoldedDivisions(const std::vector<SourceToken> &tokens, bool withPosition);

} // namespace scriptrt
