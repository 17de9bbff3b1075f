#include "formulashape.h"

#include "sourcecheck.h"

#include <charconv>
#include <cstdint>
#include <cstring>

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
            // Correctly rounded, as the text compiled as written reads it once its literals are
            // put in exact form.
            arg.kind = ShapeArgument::Double;
            if (!readFloatingLiteral(token, arg.doubleValue))
                return false;
            body += "__D" + index;
            params += (params.empty() ? "const double __D" : ",const double __D") + index;
        } else {
            if (token.size() > 1 && token[0] == '0')
                return false; // prefixed or zero-padded forms keep their own reading
            std::uint64_t value = 0;
            const auto [end, ec]
                = std::from_chars(token.data(), token.data() + token.size(), value);
            if (ec != std::errc() || end != token.data() + token.size())
                return false; // beyond 64 bits: compiled as written, where it is reported
            // The literal's own type: int up to 31 bits, int64 up to 63, else uint64.
            const char *type = "int";
            const char *prefix = "__I";
            arg.kind = ShapeArgument::Int;
            if (value >> 63) {
                type = "uint64";
                prefix = "__U";
                arg.kind = ShapeArgument::UInt64;
            } else if (value >> 31) {
                type = "int64";
                prefix = "__L";
                arg.kind = ShapeArgument::Int64;
            }
            arg.intValue = value;
            body += prefix + index;
            params += (params.empty() ? "const " : ",const ") + std::string(type) + " " + prefix
                      + index;
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
