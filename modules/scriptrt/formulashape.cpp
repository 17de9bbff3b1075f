#include "formulashape.h"

#include <angelscript.h>

#include <cstdint>
#include <cstring>

namespace AngelScript {
// The interpreter's own literal scanner: the shaped path must read a number exactly as the
// compiler does, or the two paths could disagree in the last bit.
double asStringScanDouble(const char *string, size_t *numScanned);
} // namespace AngelScript

namespace scriptrt {

namespace {

constexpr size_t kMaxArguments = 48;

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isIdentChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || isDigit(c) || c == '_';
}

} // namespace

std::string formulaFunctionCode(const char *functionName, const std::string &params,
                                const char *sink, const std::string &body)
{
    std::string code;
    code.reserve(body.size() + params.size() + 40);
    code += "void ";
    code += functionName;
    code += '(';
    code += params;
    code += "){";
    code += sink;
    code += '(';
    code += body;
    code += "\n);}";
    return code;
}

bool makeFormulaShape(const char *formula, const char *functionName, const char *sink,
                      FormulaShape &shape)
{
    shape.arguments.clear();
    shape.foldingSensitive = false;
    shape.divides = false;
    std::string body;
    std::string params;
    const size_t n = std::strlen(formula);
    body.reserve(n + 16);
    bool divides = false;
    bool branches = false;
    size_t i = 0;
    while (i < n) {
        const char c = formula[i];
        if ((c >= 'A' && c <= 'Z') || static_cast<unsigned char>(c) >= 0x80)
            return false; // parameter names are upper-case; non-ASCII identifiers not handled
        if (c == '"' || c == '\'') {
            if (c == '"' && i + 2 < n && formula[i + 1] == '"' && formula[i + 2] == '"')
                return false;
            size_t j = i + 1;
            while (j < n && formula[j] != c) {
                if (formula[j] == '\\')
                    ++j;
                ++j;
            }
            if (j >= n)
                return false;
            body.append(formula + i, j + 1 - i);
            i = j + 1;
            continue;
        }
        if (c == '/' && i + 1 < n && (formula[i + 1] == '/' || formula[i + 1] == '*'))
            return false;
        if (isIdentChar(c) && !isDigit(c)) {
            size_t j = i;
            while (j < n && isIdentChar(formula[j]))
                ++j;
            const std::string word(formula + i, j - i);
            if (word == "and" || word == "or")
                branches = true;
            body += word;
            i = j;
            continue;
        }
        if (c == '.' && i + 1 < n && isDigit(formula[i + 1]))
            return false;
        if (!isDigit(c)) {
            if (c == '/' || c == '%')
                divides = true;
            if (c == '?' || ((c == '&' || c == '|') && i + 1 < n && formula[i + 1] == c))
                branches = true;
            body += c;
            ++i;
            continue;
        }

        // A number literal: digits [. digits] [e [+-] digits], not followed by a name character.
        size_t j = i;
        while (j < n && isDigit(formula[j]))
            ++j;
        bool floating = false;
        if (j < n && formula[j] == '.') {
            if (j + 1 >= n || !isDigit(formula[j + 1]))
                return false;
            floating = true;
            ++j;
            while (j < n && isDigit(formula[j]))
                ++j;
        }
        if (j < n && formula[j] == 'e') {
            size_t k = j + 1;
            if (k < n && (formula[k] == '+' || formula[k] == '-'))
                ++k;
            if (k >= n || !isDigit(formula[k]))
                return false;
            while (k < n && isDigit(formula[k]))
                ++k;
            floating = true;
            j = k;
        }
        if (j < n && (isIdentChar(formula[j]) || formula[j] == '.'))
            return false;

        // A function of many parameters compiles slowly (time grows faster than their count);
        // formulas with that many numbers are rare and compiled as written.
        if (shape.arguments.size() >= kMaxArguments)
            return false;
        const std::string token(formula + i, j - i);
        ShapeArgument arg;
        const std::string index = std::to_string(shape.arguments.size());
        if (floating) {
            size_t scanned = 0;
            arg.isDouble = true;
            arg.doubleValue = AngelScript::asStringScanDouble(token.c_str(), &scanned);
            if (scanned != token.size())
                return false;
            body += "__D" + index;
            params += (params.empty() ? "const double __D" : ",const double __D") + index;
        } else {
            if (token.size() > 1 && token[0] == '0')
                return false; // prefixed or zero-padded forms keep their own reading
            if (token.size() > 10)
                return false;
            const std::int64_t value = std::stoll(token);
            if (value > INT32_MAX)
                return false; // wider literals change type; compile those as written
            arg.intValue = static_cast<int>(value);
            body += "__I" + index;
            params += (params.empty() ? "const int __I" : ",const int __I") + index;
        }
        shape.arguments.push_back(arg);
        i = j;
    }
    shape.foldingSensitive = divides && branches;
    shape.divides = divides;
    shape.code = formulaFunctionCode(functionName, params, sink, body);
    return true;
}

} // namespace scriptrt
