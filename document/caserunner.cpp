#include "caserunner.h"

#include "dynlib.h"
#include "error.h"
#include "numbertext.h"
#include "qzcomplier.h"
#include "qzworkbook.h"
#include "qzproject.h"
#include "qzrun.h"
#include "qztranslate.h"

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

// How a case is evaluated. The steps, the value-table updates and the failure bookkeeping of a
// whole-project run do not depend on the values, so they are laid out once as a list of
// operations. A formula is substituted once with a stand-in per name; when every stand-in sits
// between characters that cannot join a name or a number, substituting plain number texts
// instead makes the same decisions at every step of the substitution, so the formula text of a
// case is the substituted pieces with the numbers put in. Its literals then map one to one onto
// the parameters of the interpreter's compiled shape of that text, and the case runs that
// function with its numbers. Anything else - text values, failed names next to other values,
// stand-ins glued to names - takes the exact way of the run: the whole value table, the
// substitution and the evaluation of the text.

namespace tessarin {

namespace {

constexpr int kMaxShapeArguments = 64;
constexpr int kCodeBufferSize = 256 * 1024;
// Longest value text a number substitutes as: "(-1.23456789012345e-308)" and the like.
constexpr qsizetype kMaxNumberText = 32;
constexpr char16_t kStandInStart = 0xE000;
constexpr char16_t kStandInEnd = 0xE001;
constexpr char16_t kStandInDigit = 0xE100; // base 4096: U+E100..U+F0FF

bool isNameChar(char16_t c)
{
    if (c < 0x80)
        return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z')
               || c == u'_';
    return QChar(c).isLetterOrNumber();
}

QString standIn(int entry)
{
    QString digits;
    do {
        digits.prepend(QChar(char16_t(kStandInDigit + entry % 4096)));
        entry /= 4096;
    } while (entry > 0);
    return QChar(kStandInStart) + digits + QChar(kStandInEnd);
}

// Decimal literals of at most 15 significant digits and a decimal exponent within 22: the digits
// and the power of ten are exact doubles, so one multiplication or division rounds correctly -
// the value every exact reader gives, without the general algorithm. False for anything else.
bool exactDecimal(const char *p, const char *end, double &value)
{
    static constexpr double kPowers[]
        = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
           1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    std::uint64_t mantissa = 0;
    int digits = 0;
    int scale = 0;
    bool fraction = false;
    for (; p < end && *p != 'e' && *p != 'E'; ++p) {
        if (*p == '.') {
            fraction = true;
            continue;
        }
        if (mantissa == 0 && *p == '0') {
            scale -= fraction ? 1 : 0;
            continue;
        }
        if (++digits > 15)
            return false;
        mantissa = mantissa * 10 + std::uint64_t(*p - '0');
        scale -= fraction ? 1 : 0;
    }
    if (p < end) {
        ++p;
        const bool negative = *p == '-';
        if (*p == '-' || *p == '+')
            ++p;
        if (end - p > 4)
            return false;
        int exponent = 0;
        for (; p < end; ++p)
            exponent = exponent * 10 + (*p - '0');
        scale += negative ? -exponent : exponent;
    }
    if (mantissa == 0) {
        value = 0.0;
        return true;
    }
    if (scale < -22 || scale > 22)
        return false;
    const double m = static_cast<double>(mantissa);
    value = scale >= 0 ? m * kPowers[scale] : m / kPowers[-scale];
    return true;
}

bool isDigit(QChar c)
{
    return c.unicode() >= u'0' && c.unicode() <= u'9';
}

// True when every division and remainder of the formula runs whatever its conditions decide:
// none stands after a ?, &&, ||, "and" or "or" inside the same parentheses (or deeper), where it
// might be skipped. Folding its numbers while compiling then fails exactly where running the
// compiled shape fails. Text literals are passed over.
bool divisionsAlwaysRun(const QString &text)
{
    std::vector<bool> branched{false};
    const auto inBranch = [&] {
        for (bool b : branched)
            if (b)
                return true;
        return false;
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c == u'"' || c == u'\'') {
            for (++i; i < text.size() && text[i].unicode() != c; ++i)
                if (text[i] == QLatin1Char('\\'))
                    ++i;
            continue;
        }
        if (isNameChar(c)) {
            const qsizetype from = i;
            while (i + 1 < text.size() && isNameChar(text[i + 1].unicode()))
                ++i;
            const QStringView word = QStringView(text).mid(from, i + 1 - from);
            if (word == u"and" || word == u"or")
                branched.back() = true;
            continue;
        }
        if (c == u'?' || ((c == u'&' || c == u'|') && i + 1 < text.size() && text[i + 1] == c)) {
            branched.back() = true;
        } else if (c == u'(' || c == u'[') {
            branched.push_back(false);
        } else if ((c == u')' || c == u']') && branched.size() > 1) {
            branched.pop_back();
        } else if ((c == u'/' || c == u'%') && inBranch()) {
            return false;
        }
    }
    return true;
}

} // namespace

struct TqzCaseRunner::Signature
{
    std::string key;      // per stand-in: negative and literal kind
    bool textPath = true; // evaluate the text (no shape, or one the numbers cannot stand for)
    std::string code;
    std::vector<int> kinds;
    std::vector<unsigned long long> bits;
    std::vector<int> argumentOf; // per stand-in: its parameter
};

struct TqzCaseRunner::Formula
{
    QString script;
    bool codeFails = false;    // the code table cannot translate it: the step always fails
    bool pieced = false;       // pieces and stand-ins below hold
    bool divisionsRun = false; // divisionsAlwaysRun() of the pieces
    QStringList pieces;        // one more than stand-ins
    std::vector<int> entries;  // the value-table entry of each stand-in
    std::vector<Signature> signatures;
};

TqzCaseRunner::Value TqzCaseRunner::classify(const QString &substituted)
{
    Value v;
    v.text = substituted;
    const QChar *p = substituted.constData();
    qsizetype s = 0;
    qsizetype e = substituted.size();
    if (e >= 4 && p[0] == QLatin1Char('(') && p[1] == QLatin1Char('-')
        && p[e - 1] == QLatin1Char(')')) {
        v.negative = true;
        s = 2;
        --e;
    }
    if (e - s <= 0 || e - s > 40)
        return v;
    char token[48];
    qsizetype i = s;
    bool floating = false;
    bool nonzero = false;
    const auto digits = [&] {
        const qsizetype from = i;
        while (i < e && isDigit(p[i])) {
            nonzero = nonzero || p[i] != QLatin1Char('0');
            ++i;
        }
        return i > from;
    };
    if (!digits())
        return v;
    if (i < e && p[i] == QLatin1Char('.')) {
        ++i;
        floating = true;
        if (!digits())
            return v;
    }
    const bool mantissaNonzero = nonzero;
    if (i < e && (p[i] == QLatin1Char('e') || p[i] == QLatin1Char('E'))) {
        ++i;
        floating = true;
        if (i < e && (p[i] == QLatin1Char('+') || p[i] == QLatin1Char('-')))
            ++i;
        if (!digits())
            return v;
    }
    if (i != e)
        return v;
    for (qsizetype k = s; k < e; ++k)
        token[k - s] = static_cast<char>(p[k].unicode());
    const char *end = token + (e - s);
    if (floating) {
        double d = 0;
        if (exactDecimal(token, end, d)) {
            v.kind = 3;
            std::memcpy(&v.bits, &d, sizeof d);
            v.cls = Value::Number;
            return v;
        }
        const auto r = std::from_chars(token, end, d);
        // Only values every reader takes alike: finite, normal or an exact zero.
        if (r.ec != std::errc() || r.ptr != end || !std::isfinite(d)
            || (d == 0 ? mantissaNonzero : std::fabs(d) < DBL_MIN))
            return v;
        v.kind = 3;
        std::memcpy(&v.bits, &d, sizeof d);
    } else {
        if (e - s > 1 && token[0] == '0')
            return v; // zero-padded: read otherwise
        unsigned long long u = 0;
        const auto r = std::from_chars(token, end, u);
        if (r.ec != std::errc() || r.ptr != end)
            return v;
        v.kind = (u >> 63) ? 2 : (u >> 31) ? 1 : 0;
        v.bits = u;
    }
    v.cls = Value::Number;
    return v;
}

TqzCaseRunner::TqzCaseRunner(TqzProject &project,
                             TqzWorkbook &workbook,
                             const TqzTranslate &codeTable,
                             const QStringList &inputs,
                             const QStringList &reports)
    : m_workbook(workbook)
    , m_codeTable(codeTable)
    , m_complier(std::make_unique<TqzComplier>())
    , m_library(std::make_unique<DynamicLibrary>())
    , m_dictionary(std::make_unique<TqzTranslate>())
{
    if (!m_complier->isBound())
        throw Error(QStringLiteral("无法加载解释器库 scriptrt.dll (查找位置: %1): %2")
                        .arg(DynamicLibrary::platformFileName(QStringLiteral("scriptrt.dll")),
                             m_complier->bindError()));
    if (m_library->load(QStringLiteral("scriptrt.dll"))) {
        m_shape = reinterpret_cast<ShapeFn>(m_library->resolve("_uc_formula_shape"));
        m_shaped = reinterpret_cast<ShapedFn>(m_library->resolve("_uc_eval_shaped"));
        m_prepare = reinterpret_cast<PrepareFn>(m_library->resolve("_uc_prepare_shape"));
    }
    if (!m_shape || !m_shaped || !m_prepare)
        throw Error(QStringLiteral("the script library %1 cannot run compiled shapes")
                        .arg(DynamicLibrary::platformFileName(QStringLiteral("scriptrt.dll"))));

    TqzProjectTree &tree = *project.TreeView;
    const int count = tree.count();
    if (count == 0)
        throw Error(QStringLiteral("the project has no nodes to run"));
    QHash<QString, int> nameIds;
    QHash<QString, int> firstOfName;
    m_scripts.resize(count);
    m_nameOf.resize(count);
    m_parentWithScript.resize(count);
    m_leaf.resize(count);
    m_fileValues.resize(count);
    for (int i = 0; i < count; ++i) {
        const TqzNode &node = *tree.nodeAt(i);
        m_scripts[i] = node.Script;
        m_fileValues[i] = node.Value;
        m_parentWithScript[i] = tree.childCount(i) > 0 && !node.Script.isEmpty();
        m_leaf[i] = tree.childCount(i) == 0;
        auto it = nameIds.constFind(node.Name);
        if (it == nameIds.constEnd()) {
            it = nameIds.insert(node.Name, int(m_names.size()));
            m_names.push_back(node.Name);
        }
        m_nameOf[i] = *it;
        if (!firstOfName.contains(node.Name))
            firstOfName.insert(node.Name, i);
    }

    // Inputs: a probe text tells which nodes take their value from the cells tagged so; one of
    // its own per input, as the cells keep it until the first case.
    for (const QString &name : inputs) {
        Input in;
        in.name = name;
        const QString probe = QStringLiteral("\x01probe %1\x01").arg(m_inputs.size());
        m_workbook.SetTagValue(name, probe);
        in.tagged = m_workbook.GetTagValue(name) == probe;
        if (in.tagged) {
            QHash<QString, QString> answers;
            for (int i = 0; i < count; ++i)
                answers.insert(tree.nodeAt(i)->Name, QString());
            m_workbook.GetTagValues(answers);
            for (int i = 0; i < count; ++i)
                if (answers.value(tree.nodeAt(i)->Name) == probe)
                    in.nodes.push_back(i);
        } else {
            for (int i = 0; i < count; ++i)
                if (tree.nodeAt(i)->Name == name)
                    in.nodes.push_back(i);
            if (in.nodes.empty())
                throw Error(QStringLiteral("%1: no report cell is tagged \"%1\" and no node is "
                                           "named so")
                                .arg(name));
        }
        m_inputs.push_back(std::move(in));
    }
    for (const QString &name : reports) {
        int found = -1;
        for (int i = 0; i < count && found < 0; ++i)
            if (tree.nodeAt(i)->Name == name)
                found = i;
        if (found < 0)
            throw Error(QStringLiteral("%1: the project has no node of that name").arg(name));
        m_reportNodes.push_back(found);
    }

    // The pages' answers that stay the same for every case, then the normalisation.
    QHash<QString, QString> answers;
    for (int i = 0; i < count; ++i)
        answers.insert(tree.nodeAt(i)->Name, QString());
    m_workbook.GetTagValues(answers);
    m_nodeValues.resize(count);
    m_baseNodeValues.resize(count);
    m_baseValues.resize(count);
    for (int i = 0; i < count; ++i) {
        const QString &answer = answers[tree.nodeAt(i)->Name];
        QString value = answer.isEmpty() ? m_fileValues[i] : answer;
        if (m_parentWithScript[i])
            value = QStringLiteral("0.0");
        else if (m_leaf[i] && m_scripts[i].isEmpty() && isIntegerLiteral(value))
            value = value.trimmed() + QStringLiteral(".0");
        m_baseValues[i] = classify(substitutionText(value));
        m_baseNodeValues[i] = value;
    }

    // The operations of a whole-project run: the subtree of the first item, bottom-up, with
    // each namesake subtree entered once in place of a leaf.
    struct Frame
    {
        int first;
        int i;
    };
    std::vector<bool> entered(count, false);
    std::vector<Frame> stack;
    const auto enter = [&](int first) {
        const int last = tree.lastDescendant(first);
        m_ops.push_back({first, last});
        stack.push_back({first, last});
    };
    enter(0);
    while (!stack.empty()) {
        Frame &f = stack.back();
        if (f.i < f.first) {
            stack.pop_back();
            continue;
        }
        const int i = f.i--;
        const QString &script = m_scripts[i];
        if (tree.childCount(i) == 0 && !script.isEmpty()) {
            const int first = firstOfName.value(tree.nodeAt(i)->Name, -1);
            if (first >= 0 && first <= i - 2) {
                if (!entered[first]) {
                    entered[first] = true;
                    enter(first);
                }
                continue;
            }
        }
        if (script.isEmpty() || script.contains(QLatin1String("main"), Qt::CaseSensitive))
            continue;
        m_ops.push_back({i, -1});
    }

    // The value table's entries in the order the run adds them (names without regard to case).
    QHash<QString, int> entryIds;
    m_entryOf.assign(count, -1);
    for (const Op &op : m_ops) {
        if (op.last < 0)
            continue;
        for (int i = op.first; i <= op.last; ++i) {
            const QString &name = tree.nodeAt(i)->Name;
            const QString folded = name.toCaseFolded();
            auto it = entryIds.constFind(folded);
            if (it == entryIds.constEnd()) {
                it = entryIds.insert(folded, int(entryIds.size()));
                m_dictionary->AddWord(name, QString());
            }
            m_entryOf[i] = *it;
        }
    }
    for (const auto &word : m_dictionary->Words())
        for (QChar c : word->Key)
            m_keysAreWords = m_keysAreWords && isNameChar(c.unicode());
    m_entries.resize(m_dictionary->Words().size());
    m_failedNow.assign(m_names.size(), -1);
    for (const Op &op : m_ops)
        if (op.last < 0)
            formulaOf(m_scripts[op.first]);
    m_code.resize(kCodeBufferSize);
    m_kinds.resize(kMaxShapeArguments);
    m_bits.resize(kMaxShapeArguments);
}

TqzCaseRunner::~TqzCaseRunner() = default;

TqzCaseRunner::Formula &TqzCaseRunner::formulaOf(const QString &script)
{
    if (Formula *f = m_formulaOf.value(script))
        return *f;
    m_formulas.push_back(std::make_unique<Formula>());
    Formula &f = *m_formulas.back();
    f.script = script;
    analyse(f);
    m_formulaOf.insert(script, &f);
    return f;
}

void TqzCaseRunner::analyse(Formula &f)
{
    try {
        m_codeTable.Translate(f.script);
    } catch (const Error &) {
        f.codeFails = true;
        return;
    }
    if (!m_keysAreWords || f.script.size() > kMaxFormulaLength)
        return;
    for (QChar c : f.script)
        if (c.unicode() == 0xFFFF || (c.unicode() >= 0xE000 && c.unicode() <= 0xF8FF))
            return;
    const auto &words = m_dictionary->Words();
    for (size_t e = 0; e < words.size(); ++e)
        words[e]->Value = standIn(int(e));
    QString text;
    try {
        text = m_dictionary->Translate(f.script, kMaxFormulaLength);
    } catch (const Error &) {
        return;
    }
    QStringList pieces{QString()};
    std::vector<int> entries;
    for (qsizetype i = 0; i < text.size();) {
        if (text[i].unicode() != kStandInStart) {
            pieces.back() += text[i++];
            continue;
        }
        int entry = 0;
        ++i;
        while (i < text.size() && text[i].unicode() >= kStandInDigit
               && text[i].unicode() < kStandInDigit + 4096)
            entry = entry * 4096 + (text[i++].unicode() - kStandInDigit);
        if (i >= text.size() || text[i].unicode() != kStandInEnd)
            return;
        ++i;
        entries.push_back(entry);
        pieces.emplace_back();
    }
    // Every stand-in between characters that neither continue a name nor a number.
    const auto joins = [](QChar c) { return isNameChar(c.unicode()) || c == QLatin1Char('.'); };
    for (size_t k = 0; k < entries.size(); ++k) {
        const QString &before = pieces[k];
        const QString &after = pieces[k + 1];
        if ((before.isEmpty() && k > 0) || (after.isEmpty() && k + 1 < entries.size()))
            return;
        if ((!before.isEmpty() && joins(before.back()))
            || (!after.isEmpty() && joins(after.front())))
            return;
    }
    if (f.script.size() + qsizetype(entries.size()) * kMaxNumberText > kMaxFormulaLength)
        return;
    f.divisionsRun = divisionsAlwaysRun(pieces.join(QLatin1Char('0')));
    f.pieces = std::move(pieces);
    f.entries = std::move(entries);
    f.pieced = true;
}

QString TqzCaseRunner::fillText(const Formula &f) const
{
    QString text = f.pieces[0];
    for (size_t k = 0; k < f.entries.size(); ++k) {
        text += m_entries[size_t(f.entries[k])].text;
        text += f.pieces[k + 1];
    }
    return text;
}

QByteArray TqzCaseRunner::shapeText(const Formula &f, size_t entries) const
{
    // The text the interpreter gets: the run lowers every ASCII letter of a substituted formula.
    QString text = f.pieces[0];
    for (size_t k = 0; k < entries; ++k) {
        text += m_entries[size_t(f.entries[k])].text;
        text += f.pieces[qsizetype(k) + 1];
    }
    return lowerAscii(text).toUtf8();
}

TqzCaseOutcome TqzCaseRunner::runCase(const QStringList &values)
{
    m_values = m_baseValues;
    m_nodeValues = m_baseNodeValues;
    // An input typed as in the case before gives its nodes the same values again (a grid's slow
    // axes): the pages are asked only for what changed.
    std::vector<bool> same(m_inputs.size());
    for (size_t k = 0; k < m_inputs.size() && k < size_t(values.size()); ++k) {
        Input &in = m_inputs[k];
        same[k] = in.typedBefore && in.lastTyped == values[qsizetype(k)];
        if (in.tagged && !same[k])
            m_workbook.SetTagValue(in.name, values[qsizetype(k)]);
    }
    for (size_t k = 0; k < m_inputs.size() && k < size_t(values.size()); ++k) {
        Input &in = m_inputs[k];
        if (same[k]) {
            for (size_t n = 0; n < in.nodes.size(); ++n) {
                m_nodeValues[size_t(in.nodes[n])] = in.lastNodeValues[n];
                m_values[size_t(in.nodes[n])] = in.lastValues[n];
            }
            continue;
        }
        in.typedBefore = true;
        in.lastTyped = values[qsizetype(k)];
        in.lastNodeValues.clear();
        in.lastValues.clear();
        for (int i : in.nodes) {
            QString value = values[qsizetype(k)];
            if (in.tagged) {
                // Every node named like one answering to the tag reads the page's text.
                QHash<QString, QString> answer{{m_names[size_t(m_nameOf[size_t(i)])], QString()}};
                m_workbook.GetTagValues(answer);
                value = answer.begin().value();
                if (value.isEmpty())
                    value = m_fileValues[size_t(i)];
            }
            if (m_parentWithScript[size_t(i)])
                value = QStringLiteral("0.0");
            else if (m_leaf[size_t(i)] && m_scripts[size_t(i)].isEmpty() && isIntegerLiteral(value))
                value = value.trimmed() + QStringLiteral(".0");
            m_nodeValues[size_t(i)] = value;
            m_values[size_t(i)] = classify(substitutionText(value));
            in.lastNodeValues.push_back(value);
            in.lastValues.push_back(m_values[size_t(i)]);
        }
    }
    std::fill(m_failedNow.begin(), m_failedNow.end(), -1);
    m_failedNames.clear();
    m_failedSteps = 0;
    for (const Op &op : m_ops) {
        if (op.last < 0) {
            evaluate(op.first);
            continue;
        }
        for (int i = op.first; i <= op.last; ++i)
            setEntry(i);
    }
    TqzCaseOutcome out;
    out.failedSteps = m_failedSteps;
    for (int node : m_reportNodes)
        out.values.append(m_nodeValues[size_t(node)]);
    return out;
}

void TqzCaseRunner::setEntry(int node)
{
    const int failed = m_failedNow[size_t(m_nameOf[size_t(node)])];
    Value &entry = m_entries[size_t(m_entryOf[size_t(node)])];
    if (failed < 0) {
        entry = m_values[size_t(node)];
        return;
    }
    entry = Value();
    entry.cls = Value::Marker;
    entry.marker = failed;
    entry.text = failureMarker(failed);
}

void TqzCaseRunner::evaluate(int node)
{
    Formula &f = *m_formulaOf.value(m_scripts[size_t(node)]);
    if (f.codeFails) {
        fail(node);
        return;
    }
    QString result;
    bool numbers = f.pieced;
    if (numbers) {
        for (int e : f.entries) {
            const Value &v = m_entries[size_t(e)];
            if (v.cls == Value::Other) {
                numbers = false;
                break;
            }
        }
    }
    if (numbers) {
        // Only numbers and failure markers: the first marker in the text fails the step.
        for (int e : f.entries)
            if (m_entries[size_t(e)].cls == Value::Marker) {
                fail(node);
                return;
            }
        if (evaluateNumbers(f, result))
            succeed(node, result);
        else
            fail(node);
        return;
    }
    ++m_textSteps;
    const auto &words = m_dictionary->Words();
    for (size_t e = 0; e < words.size(); ++e)
        words[e]->Value = m_entries[e].text;
    QString substituted;
    try {
        substituted = m_complier->Translate(*m_dictionary, f.script);
    } catch (const Error &) {
        fail(node);
        return;
    }
    if (failedReference(substituted, m_failedNames.size()) >= 0) {
        fail(node);
        return;
    }
    result = m_complier->Evaluate(substituted);
    if (m_complier->Succeeded)
        succeed(node, result);
    else
        fail(node);
}

bool TqzCaseRunner::evaluateNumbers(Formula &f, QString &result)
{
    std::string &key = m_key; // reused: no allocation per step
    key.resize(f.entries.size());
    for (size_t k = 0; k < f.entries.size(); ++k) {
        const Value &v = m_entries[size_t(f.entries[k])];
        key[k] = static_cast<char>(1 + v.kind + (v.negative ? 4 : 0));
    }
    Signature *sig = nullptr;
    for (Signature &s : f.signatures)
        if (s.key == key)
            sig = &s;
    if (!sig) {
        // The first case of this kind of numbers: the shape of its text, and where each number
        // lands among the shape's parameters.
        f.signatures.push_back({key, true, {}, {}, {}, {}});
        sig = &f.signatures.back();
        const QByteArray text = shapeText(f, f.entries.size());
        int flags = 0;
        const int n = m_shape(text.constData(),
                              m_code.data(),
                              kCodeBufferSize,
                              m_kinds.data(),
                              m_bits.data(),
                              kMaxShapeArguments,
                              &flags);
        bool usable = n >= 0 && ((flags & 1) == 0 || f.divisionsRun);
        if (usable) {
            sig->code = m_code.data();
            sig->kinds.assign(m_kinds.begin(), m_kinds.begin() + n);
            sig->bits.assign(m_bits.begin(), m_bits.begin() + n);
            int previous = -1;
            for (size_t k = 0; k < f.entries.size() && usable; ++k) {
                const QByteArray head = shapeText(f, k);
                const int at = m_shape(head.constData(),
                                       m_code.data(),
                                       kCodeBufferSize,
                                       m_kinds.data(),
                                       m_bits.data(),
                                       kMaxShapeArguments,
                                       nullptr);
                const Value &v = m_entries[size_t(f.entries[k])];
                usable = at > previous && at < n && sig->kinds[size_t(at)] == v.kind
                         && sig->bits[size_t(at)] == v.bits;
                sig->argumentOf.push_back(at);
                previous = at;
            }
            usable = usable && m_prepare(text.constData()) == 1;
        }
        sig->textPath = !usable;
    } else if (!sig->textPath) {
        std::copy(sig->kinds.begin(), sig->kinds.end(), m_kinds.begin());
        std::copy(sig->bits.begin(), sig->bits.end(), m_bits.begin());
        for (size_t k = 0; k < f.entries.size(); ++k)
            m_bits[size_t(sig->argumentOf[k])] = m_entries[size_t(f.entries[k])].bits;
        char buffer[64] = {};
        int r = m_shaped(sig->code.c_str(),
                         int(sig->kinds.size()),
                         m_kinds.data(),
                         m_bits.data(),
                         buffer,
                         sizeof buffer);
        // The interpreter keeps only so many compiled shapes: one let go is compiled again.
        if (r < 0 && m_prepare(shapeText(f, f.entries.size()).constData()) == 1)
            r = m_shaped(sig->code.c_str(),
                         int(sig->kinds.size()),
                         m_kinds.data(),
                         m_bits.data(),
                         buffer,
                         sizeof buffer);
        if (r >= 0) {
            ++m_shapedSteps;
            buffer[sizeof buffer - 1] = '\0';
            result = QString::fromUtf8(buffer);
            return isNumberText(result);
        }
    }
    ++m_textSteps;
    result = m_complier->Evaluate(fillText(f));
    return m_complier->Succeeded;
}

void TqzCaseRunner::succeed(int node, const QString &result)
{
    m_failedNow[size_t(m_nameOf[size_t(node)])] = -1;
    m_nodeValues[size_t(node)] = result;
    // A result is the interpreter's number text, without blanks: substitutionText() reduces to
    // the parentheses of a negative one.
    m_values[size_t(node)] = classify(result.startsWith(QLatin1Char('-'))
                                          ? QLatin1Char('(') + result + QLatin1Char(')')
                                          : result);
    m_entries[size_t(m_entryOf[size_t(node)])] = m_values[size_t(node)];
}

void TqzCaseRunner::fail(int node)
{
    ++m_failedSteps;
    m_nodeValues[size_t(node)].clear();
    m_values[size_t(node)] = Value();
    int &failed = m_failedNow[size_t(m_nameOf[size_t(node)])];
    if (failed < 0) {
        failed = int(m_failedNames.size());
        m_failedNames.push_back(m_nameOf[size_t(node)]);
    }
    setEntry(node);
}

} // namespace tessarin
