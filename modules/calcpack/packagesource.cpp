#include "packagesource.h"

#include "error.h"
#include "logfont.h"
#include "qzproject.h"
#include "qzworkbook.h"

#include <QHash>
#include <QSet>

#include <cmath>
#include <memory>

namespace tessarin {
namespace {

// Colours 0x00BBGGRR: results on pale blue, section headings on light grey.
constexpr TColor kResultBack = 0x00FFF3E6;
constexpr TColor kHeadingBack = 0x00E8E8E8;
// Windows paper and orientation codes of an A4 portrait sheet.

[[noreturn]] void fail(const QString &where, int line, const QString &why)
{
    throw Error(QStringLiteral("%1, line %2: %3").arg(where).arg(line).arg(why));
}

// The source's lines without the line break, numbered from 1.
QStringList sourceLines(const QString &text)
{
    QString unified = text;
    unified.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    return unified.split(QLatin1Char('\n'));
}

bool isCommentOrBlank(const QString &line)
{
    const QString t = line.trimmed();
    return t.isEmpty() || t.startsWith(QLatin1Char('#'));
}

// Splits at `separator` outside double-quoted texts.
QStringList splitOutsideQuotes(const QString &text, QChar separator)
{
    QStringList parts;
    QString current;
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == QLatin1Char('\\') && quoted && i + 1 < text.size()) {
            current += c;
            current += text[++i];
            continue;
        }
        if (c == QLatin1Char('"'))
            quoted = !quoted;
        if (c == separator && !quoted) {
            parts << current;
            current.clear();
        } else {
            current += c;
        }
    }
    parts << current;
    return parts;
}

// Words and quoted texts of a cell; a quoted text keeps its quotes so that "" stays a token.
// Inside quotes \n is a line break (stored as CR LF like typed text), \" and \\ themselves.
QStringList cellTokens(const QString &text, const QString &where, int line)
{
    QStringList tokens;
    qsizetype i = 0;
    while (i < text.size()) {
        if (text[i].isSpace()) {
            ++i;
            continue;
        }
        if (text[i] == QLatin1Char('"')) {
            QString token = QStringLiteral("\"");
            ++i;
            bool closed = false;
            while (i < text.size()) {
                const QChar c = text[i++];
                if (c == QLatin1Char('"')) {
                    closed = true;
                    break;
                }
                if (c == QLatin1Char('\\') && i < text.size()) {
                    const QChar e = text[i++];
                    token += e == QLatin1Char('n') ? QStringLiteral("\r\n") : QString(e);
                } else {
                    token += c;
                }
            }
            if (!closed)
                fail(where, line, QStringLiteral("a quoted text is not closed"));
            tokens << token + QLatin1Char('"');
            continue;
        }
        qsizetype end = i;
        while (end < text.size() && !text[end].isSpace() && text[end] != QLatin1Char('"'))
            ++end;
        tokens << text.mid(i, end - i);
        i = end;
    }
    return tokens;
}

bool isQuoted(const QString &token)
{
    return token.size() >= 2 && token.startsWith(QLatin1Char('"'))
           && token.endsWith(QLatin1Char('"'));
}

QString unquote(const QString &token)
{
    return token.mid(1, token.size() - 2);
}

int positiveInt(const QString &text, const QString &what, const QString &where, int line)
{
    bool ok = false;
    const int v = text.toInt(&ok);
    if (!ok || v < 1)
        fail(where,
             line,
             QStringLiteral("%1 must be a whole number of at least 1, not \"%2\"").arg(what, text));
    return v;
}

PackCell parseCell(const QString &text, const QString &where, int line)
{
    const QStringList t = cellTokens(text, where, line);
    if (t.size() < 2)
        fail(where,
             line,
             QStringLiteral("a cell needs its span and its content: \"%1\"").arg(text.trimmed()));
    PackCell cell;
    cell.span = positiveInt(t[0], QStringLiteral("the span of a cell"), where, line);
    qsizetype next = 2;
    const QString &kind = t[1];
    if (isQuoted(kind)) {
        cell.kind = PackCell::Label;
        cell.text = unquote(kind);
    } else if (kind == QLatin1String("copy")) {
        // Another place of a node's value: the run writes it here too.
        if (t.size() < 3 || isQuoted(t[2]))
            fail(where, line, QStringLiteral("\"copy\" needs a tag name"));
        cell.kind = PackCell::Copy;
        cell.tag = t[2];
        next = 3;
        if (t.size() > 3 && isQuoted(t[3])) {
            cell.format = unquote(t[3]);
            next = 4;
        }
    } else if (kind == QLatin1String("calc")) {
        // A typed value that the node's formula may replace: an input shown like a result.
        if (t.size() < 4 || isQuoted(t[2]) || !isQuoted(t[3]))
            fail(where,
                 line,
                 QStringLiteral("\"calc\" needs a tag name and a quoted display format"));
        cell.kind = PackCell::Input;
        cell.tag = t[2];
        cell.format = unquote(t[3]);
        cell.computed = true;
        next = 4;
    } else if (kind == QLatin1String("in") || kind == QLatin1String("out")) {
        if (t.size() < 3 || isQuoted(t[2]))
            fail(where, line, QStringLiteral("\"%1\" needs a tag name").arg(kind));
        cell.tag = t[2];
        next = 3;
        if (kind == QLatin1String("in")) {
            cell.kind = PackCell::Input;
            // Typed numbers show as typed, whole ones without the ".0" the run appends.
            cell.format = QStringLiteral("G");
            // An input with its own text is a field of the sheet that is no node.
            if (t.size() > 3 && isQuoted(t[3])) {
                cell.kind = PackCell::Field;
                cell.text = unquote(t[3]);
                next = 4;
            }
        } else {
            cell.kind = PackCell::Result;
            if (t.size() < 4 || !isQuoted(t[3]))
                fail(where,
                     line,
                     QStringLiteral("result \"%1\" needs a quoted display format "
                                    "(\"\" for none)")
                         .arg(cell.tag));
            cell.format = unquote(t[3]);
            next = 4;
        }
    } else if (kind == QLatin1String("run")) {
        cell.kind = PackCell::RunButton;
    } else if (kind == QLatin1String("pagenum")) {
        cell.kind = PackCell::PageNumber;
    } else if (kind == QLatin1String("pagecount")) {
        cell.kind = PackCell::PageCount;
    } else {
        fail(where, line, QStringLiteral("unknown cell content \"%1\"").arg(kind));
    }
    for (; next < t.size(); ++next) {
        const QString &m = t[next];
        if (m == QLatin1String("left"))
            cell.align = TEXT_ALIGN_LEFT;
        else if (m == QLatin1String("center"))
            cell.align = TEXT_ALIGN_CENTER;
        else if (m == QLatin1String("right"))
            cell.align = TEXT_ALIGN_RIGHT;
        else if (m == QLatin1String("bold"))
            cell.bold = true;
        else if (m == QLatin1String("whole") && cell.kind == PackCell::Input && !cell.computed)
            cell.format = QStringLiteral("G"); // a count: as typed, never rounded
        else
            fail(where, line, QStringLiteral("unknown cell option \"%1\"").arg(m));
    }
    return cell;
}

PackLine parseLine(const QString &body, const QString &where, int line, int columns)
{
    const qsizetype colon = splitOutsideQuotes(body, QLatin1Char(':')).first().size();
    if (colon >= body.size())
        fail(where, line, QStringLiteral("a line needs \":\" before its cells"));
    PackLine parsed;
    parsed.line = line;
    static const QHash<QString, PackLine::Style> styles = {
        {QStringLiteral("body"), PackLine::Body},
        {QStringLiteral("company"), PackLine::Company},
        {QStringLiteral("title"), PackLine::Title},
        {QStringLiteral("heading"), PackLine::Heading},
        {QStringLiteral("note"), PackLine::Note},
        {QStringLiteral("foot"), PackLine::Foot},
    };
    const QStringList words = body.left(colon).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const QString &w : words) {
        if (w.startsWith(QLatin1String("h=")))
            parsed.height = positiveInt(w.mid(2), QStringLiteral("a line height"), where, line);
        else if (styles.contains(w))
            parsed.style = styles.value(w);
        else
            fail(where, line, QStringLiteral("unknown line style \"%1\"").arg(w));
    }
    int spanned = 0;
    for (const QString &c : splitOutsideQuotes(body.mid(colon + 1), QLatin1Char('|'))) {
        parsed.cells.push_back(parseCell(c, where, line));
        spanned += parsed.cells.back().span;
    }
    if (spanned != columns)
        fail(
            where,
            line,
            QStringLiteral("the cells span %1 columns, the page has %2").arg(spanned).arg(columns));
    return parsed;
}

double numberToken(const QStringList &tokens, qsizetype i, const QString &where, int line)
{
    bool ok = false;
    const double v = tokens.value(i).toDouble(&ok);
    if (!ok || !std::isfinite(v))
        fail(where, line, QStringLiteral("expected a number, not \"%1\"").arg(tokens.value(i)));
    return v;
}

// chart LINES [title "T"] [x "NAME"] [y "NAME"] [sweep INPUT] [range NODE FROM TO]
//       [from A] [to B] [points N] [plot NODE]...
PackChart parseChart(const QString &body, const QString &where, int line, int linesSoFar)
{
    const QStringList t = cellTokens(body, where, line);
    PackChart out;
    out.line = line;
    out.lines = positiveInt(t.value(0), QStringLiteral("the lines a chart covers"), where, line);
    if (out.lines > linesSoFar)
        fail(where, line, QStringLiteral("the chart covers %1 lines, but the page has %2 so far")
                              .arg(out.lines)
                              .arg(linesSoFar));
    TqzChart &c = out.chart;
    c.points = 21;
    const auto text = [&](qsizetype i) {
        if (!isQuoted(t.value(i)))
            fail(where, line, QStringLiteral("\"%1\" needs a quoted text").arg(t.value(i - 1)));
        return unquote(t[i]);
    };
    const auto word = [&](qsizetype i) {
        if (i >= t.size() || isQuoted(t[i]))
            fail(where, line, QStringLiteral("\"%1\" needs a node name").arg(t.value(i - 1)));
        return t[i];
    };
    for (qsizetype i = 1; i < t.size();) {
        const QString key = t[i];
        if (key == QLatin1String("title")) {
            c.title = text(i + 1);
            i += 2;
        } else if (key == QLatin1String("x")) {
            c.xName = text(i + 1);
            i += 2;
        } else if (key == QLatin1String("y")) {
            c.yName = text(i + 1);
            i += 2;
        } else if (key == QLatin1String("sweep")) {
            c.input = word(i + 1);
            i += 2;
        } else if (key == QLatin1String("range")) {
            c.rangeNode = word(i + 1);
            c.from = numberToken(t, i + 2, where, line);
            c.to = numberToken(t, i + 3, where, line);
            i += 4;
        } else if (key == QLatin1String("from") || key == QLatin1String("to")) {
            (key == QLatin1String("from") ? c.from : c.to) = numberToken(t, i + 1, where, line);
            i += 2;
        } else if (key == QLatin1String("points")) {
            c.points = positiveInt(t.value(i + 1), QStringLiteral("points"), where, line);
            if (c.points < 2 || c.points > kMaxChartPoints)
                fail(where, line, QStringLiteral("points must be 2 to %1").arg(kMaxChartPoints));
            i += 2;
        } else if (key == QLatin1String("plot")) {
            c.outputs << word(i + 1);
            i += 2;
        } else {
            fail(where, line, QStringLiteral("unknown chart word \"%1\"").arg(key));
        }
    }
    if (!c.outputs.isEmpty() && c.input.isEmpty())
        fail(where, line, QStringLiteral("a chart that plots outputs needs \"sweep INPUT\""));
    return out;
}

// curve "NAME" [count NODE] X,Y;X,Y...   or   point "NAME" X,Y
TqzChartData parseChartData(const QString &keyword,
                            const QString &body,
                            const QString &where,
                            int line)
{
    const QStringList t = cellTokens(body, where, line);
    TqzChartData data;
    data.kind = keyword == QLatin1String("point") ? TqzChartKind::Point : TqzChartKind::Curve;
    if (!isQuoted(t.value(0)))
        fail(where, line, QStringLiteral("a %1 needs its quoted name first").arg(keyword));
    data.name = unquote(t[0]);
    qsizetype i = 1;
    if (t.value(i) == QLatin1String("count")) {
        data.count = t.value(i + 1);
        i += 2;
    }
    if (i != t.size() - 1)
        fail(where, line, QStringLiteral("a %1 takes its points as one word X,Y;X,Y...").arg(keyword));
    const QString why = parseChartPoints(t[i], data);
    if (!why.isEmpty())
        fail(where, line, why);
    return data;
}

const PackNode *findNode(const std::vector<PackNode> &nodes, const QString &name)
{
    for (const PackNode &n : nodes)
        if (n.name == name)
            return &n;
    return nullptr;
}

// A cell showing a node's value (not a free field of the sheet).
bool isValueCell(const PackCell &cell)
{
    return cell.kind == PackCell::Result || cell.kind == PackCell::Input
           || cell.kind == PackCell::Copy;
}

bool hasChildren(const std::vector<PackNode> &nodes, size_t i)
{
    return i + 1 < nodes.size() && nodes[i + 1].depth > nodes[i].depth;
}

LOGFONT pointFont(double points, bool bold)
{
    LOGFONT f = defaultCellFont();
    // The default font is 12 points at the screen's resolution; scale its pixel height.
    f.lfHeight = -static_cast<int>(std::abs(f.lfHeight) * points / 12.0 + 0.5);
    f.lfWeight = bold ? 700 : 0;
    return f;
}

} // namespace

std::vector<PackNode> parsePackTree(const QString &text, const QString &where)
{
    std::vector<PackNode> nodes;
    QSet<QString> names;
    const QStringList lines = sourceLines(text);
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString &raw = lines[i];
        const int lineNo = static_cast<int>(i + 1);
        if (isCommentOrBlank(raw))
            continue;
        qsizetype indent = 0;
        while (indent < raw.size() && raw[indent] == QLatin1Char(' '))
            ++indent;
        if (indent < raw.size() && raw[indent] == QLatin1Char('\t'))
            fail(where, lineNo, QStringLiteral("indent with blanks, not tabs"));
        if (indent % 2 != 0)
            fail(where, lineNo, QStringLiteral("the indent must be a multiple of two blanks"));
        PackNode n;
        n.depth = static_cast<int>(indent / 2);
        n.line = lineNo;
        if (n.depth > 0 && nodes.empty())
            fail(where, lineNo, QStringLiteral("the first node must not be indented"));
        if (!nodes.empty() && n.depth > nodes.back().depth + 1)
            fail(where,
                 lineNo,
                 QStringLiteral("indented more than one level below the line "
                                "before"));
        // The formula is the rest of the line after the third "|", so it may hold "||".
        QStringList f = raw.mid(indent).split(QLatin1Char('|'));
        if (f.size() > 4)
            f = QStringList{f[0], f[1], f[2], f.mid(3).join(QLatin1Char('|'))};
        if (f.size() != 4)
            fail(where,
                 lineNo,
                 QStringLiteral("a node needs four fields NAME | CODE | UNIT | "
                                "VALUE, found %1")
                     .arg(f.size()));
        n.name = f[0].trimmed();
        n.code = f[1].trimmed();
        n.unit = f[2].trimmed();
        const QString value = f[3].trimmed();
        if (n.name.isEmpty() || n.code.isEmpty())
            fail(where, lineNo, QStringLiteral("a node needs a name and a code"));
        if (names.contains(n.name))
            fail(where, lineNo, QStringLiteral("the name \"%1\" is used twice").arg(n.name));
        names.insert(n.name);
        // "DEFAULT = FORMULA": an input whose formula may replace the typed value (the formula
        // sees the typed value under the node's own name).
        if (const qsizetype eq = value.indexOf(QLatin1Char('=')); eq >= 0) {
            n.value = value.left(eq).trimmed();
            n.script = value.mid(eq + 1).trimmed();
            if (n.script.isEmpty())
                fail(where, lineNo, QStringLiteral("\"%1\" has \"=\" but no formula").arg(n.name));
        } else {
            n.value = value;
        }
        nodes.push_back(std::move(n));
    }
    if (nodes.empty())
        fail(where, 1, QStringLiteral("the tree has no nodes"));
    for (size_t i = 0; i < nodes.size(); ++i)
        if (hasChildren(nodes, i) && nodes[i].script.isEmpty())
            fail(where,
                 nodes[i].line,
                 QStringLiteral("the group \"%1\" needs a formula").arg(nodes[i].name));
    return nodes;
}

std::vector<PackPage> parsePackPages(const QString &text, const QString &where)
{
    std::vector<PackPage> pages;
    const QStringList lines = sourceLines(text);
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString raw = lines[i].trimmed();
        const int lineNo = static_cast<int>(i + 1);
        if (isCommentOrBlank(raw))
            continue;
        const qsizetype blank = raw.indexOf(QLatin1Char(' '));
        const QString keyword = blank < 0 ? raw : raw.left(blank);
        const QString rest = blank < 0 ? QString() : raw.mid(blank + 1).trimmed();
        if (keyword == QLatin1String("page")) {
            if (rest.isEmpty())
                fail(where, lineNo, QStringLiteral("a page needs its tab name"));
            PackPage page;
            page.tab = rest;
            page.line = lineNo;
            pages.push_back(std::move(page));
            continue;
        }
        if (pages.empty())
            fail(where, lineNo, QStringLiteral("\"%1\" before the first page").arg(keyword));
        PackPage &page = pages.back();
        if (keyword == QLatin1String("margins")) {
            const QStringList m = rest.split(QLatin1Char(' '), Qt::SkipEmptyParts);
            if (m.size() != 4)
                fail(where, lineNo, QStringLiteral("margins needs four numbers (mm)"));
            for (int k = 0; k < 4; ++k)
                page.margins[k] = positiveInt(m[k], QStringLiteral("a margin"), where, lineNo);
        } else if (keyword == QLatin1String("height")) {
            page.lineHeight = positiveInt(rest, QStringLiteral("a line height"), where, lineNo);
        } else if (keyword == QLatin1String("columns")) {
            page.columns.clear();
            for (const QString &w : rest.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
                bool ok = false;
                const double v = w.toDouble(&ok);
                if (!ok || !(v > 0))
                    fail(where,
                         lineNo,
                         QStringLiteral("a column width must be a positive "
                                        "number, not \"%1\"")
                             .arg(w));
                page.columns.push_back(v);
            }
            if (page.columns.empty())
                fail(where, lineNo, QStringLiteral("columns needs at least one width"));
        } else if (keyword == QLatin1String("line")) {
            if (page.columns.empty())
                fail(where, lineNo, QStringLiteral("a line before the page's columns"));
            page.lines.push_back(
                parseLine(raw.mid(4), where, lineNo, static_cast<int>(page.columns.size())));
        } else if (keyword == QLatin1String("chart")) {
            PackChart chart = parseChart(rest, where, lineNo, static_cast<int>(page.lines.size()));
            chart.chart.first = {static_cast<int>(page.lines.size()) - chart.lines, 0};
            chart.chart.last = {static_cast<int>(page.lines.size()) - 1,
                                static_cast<int>(page.lines.back().cells.size()) - 1};
            page.charts.push_back(std::move(chart));
        } else if (keyword == QLatin1String("curve") || keyword == QLatin1String("point")) {
            if (page.charts.empty())
                fail(where, lineNo, QStringLiteral("a %1 before the page's first chart").arg(keyword));
            TqzChart &chart = page.charts.back().chart;
            if (chart.outputs.size() + chart.data.size() >= kMaxChartOutputs)
                fail(where, lineNo, QStringLiteral("a chart shows at most %1 series").arg(kMaxChartOutputs));
            chart.data.append(parseChartData(keyword, rest, where, lineNo));
        } else {
            fail(where, lineNo, QStringLiteral("unknown keyword \"%1\"").arg(keyword));
        }
    }
    if (pages.empty())
        fail(where, 1, QStringLiteral("no page is described"));
    for (const PackPage &p : pages)
        if (p.lines.empty())
            fail(where, p.line, QStringLiteral("the page \"%1\" has no lines").arg(p.tab));
    return pages;
}

void checkPackPages(const std::vector<PackNode> &nodes,
                    const std::vector<PackPage> &pages,
                    const QString &where)
{
    QStringList problems;
    QHash<QString, int> inputCells;
    QSet<QString> shown;
    for (const PackPage &page : pages) {
        for (const PackLine &line : page.lines) {
            for (const PackCell &cell : line.cells) {
                if (cell.tag.isEmpty())
                    continue;
                const PackNode *node = findNode(nodes, cell.tag);
                const QString at = QStringLiteral("line %1").arg(line.line);
                if (cell.kind == PackCell::Field) {
                    if (node)
                        problems << QStringLiteral("%1: \"%2\" is a node; its cell takes the "
                                                   "node's default, not a text of its own")
                                        .arg(at, cell.tag);
                    continue;
                }
                if (!node) {
                    problems << QStringLiteral("%1: no node is named \"%2\"").arg(at, cell.tag);
                    continue;
                }
                if (cell.kind == PackCell::Copy)
                    continue;
                shown.insert(cell.tag);
                if (cell.kind == PackCell::Input) {
                    if (cell.computed && (node->script.isEmpty() || node->value.isEmpty()))
                        problems << QStringLiteral("%1: \"%2\" needs both a default and a "
                                                   "formula for a \"calc\" cell")
                                        .arg(at, cell.tag);
                    else if (!cell.computed && !node->script.isEmpty())
                        problems << QStringLiteral("%1: \"%2\" is a result, not an input")
                                        .arg(at, cell.tag);
                    ++inputCells[cell.tag];
                } else if (node->script.isEmpty()) {
                    problems
                        << QStringLiteral("%1: \"%2\" is an input, not a result").arg(at, cell.tag);
                }
            }
        }
    }
    for (const PackPage &page : pages)
        for (const PackChart &pc : page.charts) {
            const TqzChart &c = pc.chart;
            const QString at = QStringLiteral("line %1").arg(pc.line);
            QStringList names = c.outputs;
            if (!c.input.isEmpty()) {
                const PackNode *input = findNode(nodes, c.input);
                if (!input || !input->script.isEmpty())
                    problems << QStringLiteral("%1: the chart sweeps \"%2\", which is no input")
                                    .arg(at, c.input);
            }
            if (c.outputs.isEmpty() && c.data.isEmpty())
                problems << QStringLiteral("%1: the chart plots nothing").arg(at);
            names << c.rangeNode;
            for (const TqzChartData &d : c.data) {
                names << d.count;
                for (const auto &[x, y] : d.points)
                    names << x << y;
            }
            for (const QString &name : names) {
                bool number = false;
                name.toDouble(&number);
                if (!name.isEmpty() && !number && !findNode(nodes, name))
                    problems << QStringLiteral("%1: the chart names \"%2\", which is no node")
                                    .arg(at, name);
            }
        }
    for (auto it = inputCells.cbegin(); it != inputCells.cend(); ++it)
        if (it.value() > 1)
            problems << QStringLiteral("the input \"%1\" has %2 cells; a value typed into one "
                                       "of them would be lost")
                            .arg(it.key())
                            .arg(it.value());
    for (size_t i = 0; i < nodes.size(); ++i)
        if (!hasChildren(nodes, i) && !shown.contains(nodes[i].name))
            problems << QStringLiteral("\"%1\" has no cell on any page").arg(nodes[i].name);
    if (!problems.isEmpty())
        throw Error(QStringLiteral("%1: %2").arg(where, problems.join(QStringLiteral("; "))));
}

void buildPackTree(TqzProject &project, const std::vector<PackNode> &nodes, const QString &name)
{
    project.ClearNodes();
    project.Name = name;
    // Relative to the program directory, as in every stored project: the build's own folder
    // must not end up in the document.
    project.RunTimeLibrary->LibraryPath = QStringLiteral("include//");
    TqzProjectTree &tree = *project.TreeView;
    std::vector<QModelIndex> parents; // the last item of each depth
    for (const PackNode &source : nodes) {
        auto node = std::make_unique<TqzNode>();
        node->Name = source.name;
        node->Caption = source.code;
        node->Unit = source.unit;
        node->Value = source.value;
        node->Script = source.script;
        const QModelIndex parent
            = source.depth == 0 ? QModelIndex() : parents[static_cast<size_t>(source.depth - 1)];
        const QModelIndex item = tree.appendNode(std::move(node), parent);
        parents.resize(static_cast<size_t>(source.depth));
        parents.push_back(item);
    }
}

void buildPackPage(TqzReportPage &page, const PackPage &layout, const std::vector<PackNode> &nodes)
{
    // A fixed A4 portrait page at 96 pixels per inch: the packaged pages are the same on every
    // host, whatever printer (or none) it has.
    page.applySetup(PageSetup::a4());
    page.SetMargin(layout.margins[0], layout.margins[1], layout.margins[2], layout.margins[3]);
    const int lineCount = static_cast<int>(layout.lines.size());
    page.NewTable(1, lineCount);

    // Column edges in page pixels, rounded once so that cells of different lines that end on
    // the same base column line up exactly.
    double total = 0;
    for (double w : layout.columns)
        total += w;
    const int width = page.FPageWidth - page.FLeftMargin - page.FRightMargin;
    std::vector<int> edges{0};
    double sum = 0;
    for (double w : layout.columns) {
        sum += w;
        edges.push_back(roundPixel(sum / total * width));
    }

    const LOGFONT body = pointFont(9, false);
    const LOGFONT bold = pointFont(9, true);
    for (int l = 0; l < lineCount; ++l) {
        const PackLine &ln = layout.lines[static_cast<size_t>(l)];
        for (size_t c = 1; c < ln.cells.size(); ++c)
            page.AddCell({l, 0});
        int column = 0;
        for (size_t c = 0; c < ln.cells.size(); ++c) {
            const PackCell &cell = ln.cells[c];
            const int ci = static_cast<int>(c);
            TReportCell *target = page.CellFromRC(l, ci);
            target->SetCellWidth(edges[static_cast<size_t>(column + cell.span)]
                                 - edges[static_cast<size_t>(column)]);
            column += cell.span;

            const TCellPositions here{{l, ci}};
            LOGFONT font = cell.bold ? bold : body;
            int align = TEXT_ALIGN_LEFT;
            TColor back = clWhite;
            QString text = cell.text;
            switch (cell.kind) {
            case PackCell::Label:
                // A label right after a value is that value's unit.
                if (c > 0 && isValueCell(ln.cells[c - 1]))
                    align = TEXT_ALIGN_CENTER;
                break;
            case PackCell::Field:
                page.SetTagID(l, ci, cell.tag);
                break;
            case PackCell::Input: {
                const PackNode *node = findNode(nodes, cell.tag);
                text = node->value;
                align = TEXT_ALIGN_RIGHT;
                // A typed value that a formula may replace looks like a result.
                if (cell.computed)
                    back = kResultBack;
                page.SetCellDispFormt(here, cell.format);
                page.SetTagID(l, ci, cell.tag);
                break;
            }
            case PackCell::Copy: {
                const PackNode *node = findNode(nodes, cell.tag);
                text = node->value;
                align = TEXT_ALIGN_RIGHT;
                if (!node->script.isEmpty())
                    back = kResultBack;
                page.SetTagID(l, ci, cell.tag);
                page.SetCellDispFormt(here, cell.format);
                break;
            }
            case PackCell::Result:
                align = TEXT_ALIGN_RIGHT;
                back = kResultBack;
                page.SetTagID(l, ci, cell.tag);
                page.SetCellDispFormt(here, cell.format);
                break;
            case PackCell::RunButton:
                text = page.RunCaption;
                font = bold;
                align = TEXT_ALIGN_CENTER;
                break;
            case PackCell::PageNumber:
                text = pageNumberText(1);
                align = TEXT_ALIGN_CENTER;
                page.SetTagID(l, ci, QStringLiteral("PAGENUM"));
                break;
            case PackCell::PageCount:
                text = pageCountText(1);
                align = TEXT_ALIGN_CENTER;
                page.SetTagID(l, ci, QStringLiteral("PAGECOUNT"));
                break;
            }
            switch (ln.style) {
            case PackLine::Body:
            case PackLine::Note:
                break;
            case PackLine::Company:
                font = pointFont(10.5, cell.bold);
                align = TEXT_ALIGN_CENTER;
                break;
            case PackLine::Title:
                font = pointFont(14, true);
                align = TEXT_ALIGN_CENTER;
                break;
            case PackLine::Heading:
                font = bold;
                back = kHeadingBack;
                break;
            case PackLine::Foot:
                break;
            }
            if (cell.align >= 0)
                align = cell.align;
            page.SetCellFont(here, font);
            page.SetCellAlign(here,
                              align,
                              ln.style == PackLine::Note ? TEXT_ALIGN_TOP : TEXT_ALIGN_VCENTER);
            page.SetCellBackColor(here, back);
            const bool ruled = ln.style != PackLine::Company && ln.style != PackLine::Title
                               && !(ln.style == PackLine::Foot && cell.kind != PackCell::RunButton);
            page.SetCellLines(here, ruled, ruled, ruled, ruled, 1, 1, 1, 1);
            page.SetCallText(l, ci, text);
        }
        if (ln.height > 0 || layout.lineHeight > 0)
            page.SetLineHegit(l, ln.height > 0 ? ln.height : layout.lineHeight);
    }
    page.UpdateLines();
}

QByteArray buildPackDocument(const QString &treeText,
                             const QString &treeWhere,
                             const QString &pagesText,
                             const QString &pagesWhere)
{
    const std::vector<PackNode> nodes = parsePackTree(treeText, treeWhere);
    const std::vector<PackPage> pages = parsePackPages(pagesText, pagesWhere);
    checkPackPages(nodes, pages, pagesWhere);

    TqzProject project;
    buildPackTree(project, nodes, nodes.front().name);
    TqzWorkbook workbook;
    workbook.PageNames.clear();
    for (size_t i = 0; i < pages.size(); ++i) {
        workbook.PageNames << pages[i].tab;
        workbook.OwnerIndex = static_cast<int>(i);
        TqzReportPage &page = *workbook.AddPage();
        buildPackPage(page, pages[i], nodes);
        for (const PackChart &chart : pages[i].charts)
            page.Charts.append(chart.chart);
    }
    workbook.OwnerIndex = 0;
    workbook.UpdatePageFields();
    const QByteArray projectPart = SaveProjectToBytes(project, QStringLiteral("GB2312"));
    return workbook.SaveIntoDocument(projectPart, pagesWhere);
}

} // namespace tessarin
