#include "projectcheck.h"

#include "celltag.h"
#include "dispformat.h"
#include "error.h"
#include "projecttree.h"
#include "qzcomplier.h"
#include "qzproject.h"
#include "qzrun.h"
#include "qztranslate.h"
#include "qzworkbook.h"

#include <QElapsedTimer>
#include <QHash>
#include <QSet>

#include <algorithm>
#include <memory>
#include <optional>
#include <tuple>
#include <vector>

namespace tessarin {

bool ProjectCheckResult::hasErrors() const
{
    return std::any_of(findings.cbegin(), findings.cend(), [](const ProjectFinding &f) {
        return f.severity == QLatin1String("error");
    });
}

namespace {

const QString kError = QStringLiteral("error");
const QString kWarning = QStringLiteral("warning");

// The rank of a kind among the findings of one node or cell: the order of the list above.
int kindRank(const QString &kind)
{
    static const QStringList order{findingkind::UnknownName,
                                   findingkind::UsedBeforeComputed,
                                   findingkind::CompileError,
                                   findingkind::DuplicateName,
                                   findingkind::DuplicateCode,
                                   findingkind::InputNotShown,
                                   findingkind::TagWithoutNode,
                                   findingkind::ResultCellWithoutFormula,
                                   findingkind::UnusedInput};
    return static_cast<int>(order.indexOf(kind));
}

// How a formula refers to names: which names the run's substitution finds in it, and the words
// left over that name nothing in the tree.
struct FormulaNames
{
    std::vector<int> groups;  // name groups found, each once, in order of first appearance
    QStringList strangeWords; // left-over words the interpreter cannot take as a name
    QString translateError;   // the substitution itself failed
};

// Marks for name groups in the text a formula becomes: code units no name read from a project
// holds, so nothing else in the formula can look like one.
constexpr char16_t kMarkEnd = 0xFFFF;
constexpr char16_t kMarkDigit = 0xDC00;

QString groupMark(int group)
{
    QString digits;
    do {
        digits.prepend(QChar(char16_t(kMarkDigit + group % 1024)));
        group /= 1024;
    } while (group > 0);
    return QChar(kMarkEnd) + digits + QChar(kMarkEnd);
}

bool isWordChar(QChar c)
{
    const char16_t u = c.unicode();
    if (u < 0x80)
        return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9')
               || u == '_';
    return c.isLetterOrNumber();
}

// Reads the marks out of a substituted formula and collects the words outside string literals
// that hold a character the interpreter never takes in a name (it knows ASCII names only; those
// it checks itself when it compiles).
void readMarks(const QString &text, FormulaNames &out)
{
    QSet<int> seen;
    const qsizetype quotes = text.count(QLatin1Char('"'));
    qsizetype quotesSeen = 0;
    bool inLiteral = false;
    qsizetype i = 0;
    while (i < text.size()) {
        const QChar c = text[i];
        if (c == QLatin1Char('"')) {
            ++quotesSeen;
            // Pairs from the left enclose literals; a last unpaired quote is plain text.
            if (inLiteral || quotesSeen < quotes || quotes % 2 == 0)
                inLiteral = !inLiteral;
            ++i;
            continue;
        }
        if (inLiteral) {
            ++i;
            continue;
        }
        if (c.unicode() == kMarkEnd) {
            qsizetype j = i + 1;
            int group = 0;
            while (j < text.size() && text[j].unicode() >= kMarkDigit
                   && text[j].unicode() < kMarkDigit + 1024)
                group = group * 1024 + (text[j++].unicode() - kMarkDigit);
            if (j < text.size() && text[j].unicode() == kMarkEnd && j > i + 1) {
                if (!seen.contains(group)) {
                    seen.insert(group);
                    out.groups.push_back(group);
                }
                i = j + 1;
                continue;
            }
            ++i;
            continue;
        }
        if (isWordChar(c)) {
            qsizetype j = i;
            bool foreign = false;
            while (j < text.size() && isWordChar(text[j])) {
                foreign = foreign || text[j].unicode() >= 0x80;
                ++j;
            }
            const QString word = text.mid(i, j - i);
            if (foreign && !out.strangeWords.contains(word))
                out.strangeWords.append(word);
            i = j;
            continue;
        }
        ++i;
    }
}

// "'x' is not declared": the interpreter's word for a name it does not know.
QString undeclaredName(const QString &errorText)
{
    static const QString tail = QStringLiteral("' is not declared");
    const qsizetype end = errorText.indexOf(tail);
    if (end < 0)
        return {};
    const qsizetype start = errorText.lastIndexOf(QLatin1Char('\''), end - 1);
    return start < 0 ? QString() : errorText.mid(start + 1, end - start - 1);
}

// One event of the walks a run makes over the tree.
struct WalkEvent
{
    enum Kind { Enter, Step } kind;
    int first; // Enter: the subtree [first, last]; Step: the item evaluated
    int last;
    int walk;
};

class Checker
{
public:
    Checker(const TqzProject &project, const TqzWorkbook &workbook, const ProjectCheckOptions &o)
        : m_tree(*project.TreeView)
        , m_book(workbook)
        , m_options(o)
    {}

    ProjectCheckResult run();

private:
    const TqzNode &node(int i) const { return *m_tree.nodeAt(i); }
    bool isLeaf(int i) const { return m_tree.childCount(i) == 0; }
    bool isFormula(int i) const { return !node(i).Script.isEmpty(); }
    bool isProgram(int i) const { return node(i).Script.contains(QLatin1String("main")); }
    bool isInput(int i) const { return isLeaf(i) && !isFormula(i); }
    // A leaf with a formula that a run replaces by the subtree of an earlier item of its name.
    bool standsIn(int i) const
    {
        return isLeaf(i) && isFormula(i) && earlierNamesakeOf(m_firstOfName, node(i).Name, i) >= 0;
    }

    void addNode(const QString &kind,
                 const QString &severity,
                 int item,
                 const QString &message,
                 const QString &name = {});
    void addCell(const QString &kind,
                 int page,
                 int line,
                 int cell,
                 const QString &name,
                 const QString &message);
    QString pageLabel(int page) const;
    QString itemLabel(int i) const
    {
        return QStringLiteral("第 %1 个节点“%2”").arg(i + 1).arg(node(i).Name);
    }

    void groupNames();
    void analyseFormulas();
    void walk();
    void checkFormulas();
    void evaluate(int item, std::vector<QString> &values);
    void checkDuplicates();
    void checkInputs();
    void checkCells();

    const TqzProjectTree &m_tree;
    const TqzWorkbook &m_book;
    ProjectCheckOptions m_options;
    ProjectCheckResult m_result;

    QHash<QString, int> m_firstOfName;
    // Names compared without regard to letter case, as the run's value table does.
    TqzTranslate m_marks;
    std::vector<int> m_groupOf;              // item -> its name group
    std::vector<std::vector<int>> m_members; // group -> items in tree order
    std::vector<FormulaNames> m_names;       // item -> names of its formula (formulas only)
    std::vector<char> m_used;                // group -> some formula uses it
    std::vector<WalkEvent> m_events;

    std::unique_ptr<TqzComplier> m_complier;
    QSet<int> m_failedGroups;
    QElapsedTimer m_clock;
    bool m_outOfTime = false;
};

void Checker::addNode(const QString &kind,
                      const QString &severity,
                      int item,
                      const QString &message,
                      const QString &name)
{
    ProjectFinding f;
    f.kind = kind;
    f.severity = severity;
    f.node = name.isNull() ? node(item).Name : name;
    f.message = message;
    f.item = item;
    m_result.findings.append(f);
}

void Checker::addCell(
    const QString &kind, int page, int line, int cell, const QString &name, const QString &message)
{
    ProjectFinding f;
    f.kind = kind;
    f.severity = kWarning;
    f.node = name;
    f.page = pageLabel(page);
    f.cell = QStringLiteral("line %1, cell %2").arg(line + 1).arg(cell + 1);
    f.message = message;
    f.pageIndex = page;
    f.line = line;
    f.cellIndex = cell;
    m_result.findings.append(f);
}

QString Checker::pageLabel(int page) const
{
    const int owner = m_book.page(page)->OwnerIndex;
    if (owner >= 0 && owner < m_book.PageNames.size() && !m_book.PageNames[owner].isEmpty()) {
        int sharing = 0;
        for (int k = 0; k < m_book.pageCount(); ++k)
            sharing += m_book.page(k)->OwnerIndex == owner ? 1 : 0;
        if (sharing == 1)
            return m_book.PageNames[owner];
    }
    return QStringLiteral("page %1").arg(page + 1);
}

void Checker::groupNames()
{
    const int count = m_tree.count();
    m_firstOfName = firstItemsOfNames(m_tree);
    m_groupOf.resize(static_cast<size_t>(count));
    QHash<QString, int> groupOfKey;
    groupOfKey.reserve(count);
    for (int i = 0; i < count; ++i) {
        const QString &name = node(i).Name;
        const QString key = name.toCaseFolded();
        auto it = groupOfKey.constFind(key);
        if (it == groupOfKey.constEnd()) {
            it = groupOfKey.insert(key, static_cast<int>(m_members.size()));
            m_members.emplace_back();
            // An empty name is found nowhere in a formula.
            if (!name.isEmpty())
                m_marks.AddWord(name, groupMark(*it));
        }
        m_groupOf[static_cast<size_t>(i)] = *it;
        m_members[static_cast<size_t>(*it)].push_back(i);
    }
    m_used.assign(m_members.size(), 0);
}

void Checker::analyseFormulas()
{
    const int count = m_tree.count();
    m_names.resize(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        if (!isFormula(i) || isProgram(i) || standsIn(i))
            continue;
        FormulaNames &names = m_names[static_cast<size_t>(i)];
        try {
            // Marks may be longer than the names they stand for: room for that, not for the run's
            // limit.
            readMarks(m_marks.Translate(node(i).Script, 8 * kMaxFormulaLength), names);
        } catch (const Error &e) {
            names.translateError = e.message();
        }
        for (int g : names.groups)
            m_used[static_cast<size_t>(g)] = 1;
        for (const QString &word : std::as_const(names.strangeWords))
            addNode(
                findingkind::UnknownName,
                kError,
                i,
                QStringLiteral("%1的公式用到“%2”，但没有节点叫这个名称").arg(itemLabel(i), word),
                word);
    }
}

// The walks of the runs, as events: "运行工程" from the first item, then each top-level item
// that no walk has reached. Each walk goes through its subtree in reverse pre-order; a leaf
// with a formula that has an earlier namesake enters that namesake's subtree instead, once per
// walk, and the work is bounded as a run bounds it.
void Checker::walk()
{
    const int count = m_tree.count();
    std::vector<char> reached(static_cast<size_t>(count), 0);
    const qint64 limit = RunWorkBase + RunWorkPerItem * qint64(count);
    qint64 work = 0;
    int walkNo = 0;
    for (int top = 0; top < count; top = m_tree.lastDescendant(top) + 1) {
        if (reached[static_cast<size_t>(top)])
            continue;
        struct Frame
        {
            int first;
            int i;
        };
        std::vector<Frame> frames;
        QSet<int> entered;
        bool stopped = false;
        auto enter = [&](int from) {
            const int to = m_tree.lastDescendant(from);
            work += to - from + 1;
            if (work > limit) {
                m_result.notChecked.append(
                    QStringLiteral("同名模块层层嵌套，经%1进入的子树使计算量超出运行的上限 "
                                   "(%2 个节点)，其后的公式未检查")
                        .arg(itemLabel(from))
                        .arg(limit));
                stopped = true;
                return;
            }
            m_events.push_back({WalkEvent::Enter, from, to, walkNo});
            frames.push_back({from, to});
        };
        enter(top);
        while (!frames.empty() && !stopped) {
            Frame &f = frames.back();
            if (f.i < f.first) {
                frames.pop_back();
                continue;
            }
            const int i = f.i--;
            reached[static_cast<size_t>(i)] = 1;
            if (isLeaf(i) && isFormula(i)) {
                const int namesake = earlierNamesakeOf(m_firstOfName, node(i).Name, i);
                if (namesake >= 0) {
                    if (!entered.contains(namesake)) {
                        entered.insert(namesake);
                        enter(namesake);
                    }
                    continue;
                }
            }
            if (isFormula(i) && !isProgram(i)) {
                m_events.push_back({WalkEvent::Step, i, i, walkNo});
            }
        }
        if (stopped)
            break;
        ++walkNo;
    }
}

void Checker::checkFormulas()
{
    const int count = m_tree.count();
    // The values a run starts from: the pages' answers, else the nodes' own, normalised.
    std::vector<QString> values(static_cast<size_t>(count));
    QHash<QString, QString> answers;
    for (int i = 0; i < count; ++i)
        answers.insert(node(i).Name, QString());
    try {
        m_book.GetTagValues(answers);
    } catch (const Error &) {
        // A tag that cannot be read is a finding of its own; the nodes' values stand.
        for (auto it = answers.begin(); it != answers.end(); ++it)
            it->clear();
    }
    for (int i = 0; i < count; ++i) {
        const QString &answer = answers[node(i).Name];
        QString value = answer.isEmpty() ? node(i).Value : numberCellText(answer);
        if (!isLeaf(i) && isFormula(i))
            value = QStringLiteral("0.0");
        else if (isLeaf(i) && !isFormula(i) && isIntegerLiteral(value))
            value = value.trimmed() + QStringLiteral(".0");
        values[static_cast<size_t>(i)] = value;
    }

    m_complier = std::make_unique<TqzComplier>();
    if (!m_complier->isBound()) {
        m_result.notChecked.append(QStringLiteral("无法加载解释器库 (%1)，未检查公式能否编译")
                                       .arg(m_complier->bindError()));
        m_complier.reset();
    } else {
        m_clock.start();
        m_complier->setStopCheck(
            [this] { return m_clock.elapsed() > m_options.evaluationBudgetMs; });
    }

    // Per walk: the groups in the value table so far, and where each group is first computed.
    std::vector<int> inTableOf(m_members.size(), -1);
    QHash<int, int> firstComputed;
    int currentWalk = -1;
    for (size_t e = 0; e < m_events.size(); ++e) {
        const WalkEvent &ev = m_events[e];
        if (ev.walk != currentWalk) {
            currentWalk = ev.walk;
            firstComputed.clear();
            m_failedGroups.clear();
            if (m_complier)
                m_complier->Dictionary.Clear();
            for (size_t k = e; k < m_events.size() && m_events[k].walk == currentWalk; ++k)
                if (m_events[k].kind == WalkEvent::Step) {
                    const int g = m_groupOf[static_cast<size_t>(m_events[k].first)];
                    if (!firstComputed.contains(g))
                        firstComputed.insert(g, static_cast<int>(k));
                }
        }
        if (ev.kind == WalkEvent::Enter) {
            for (int k = ev.first; k <= ev.last; ++k) {
                inTableOf[static_cast<size_t>(m_groupOf[static_cast<size_t>(k)])] = currentWalk;
                if (m_complier)
                    m_complier->Dictionary.AddWord(
                        node(k).Name, substitutionText(values[static_cast<size_t>(k)]));
            }
            continue;
        }
        const int i = ev.first;
        const FormulaNames &names = m_names[static_cast<size_t>(i)];
        const int own = m_groupOf[static_cast<size_t>(i)];
        bool sound = names.strangeWords.isEmpty() && names.translateError.isEmpty();
        bool dependsOnFailure = false;
        for (int g : names.groups) {
            if (g == own)
                continue;
            const QString &name = node(m_members[static_cast<size_t>(g)].front()).Name;
            if (inTableOf[static_cast<size_t>(g)] != currentWalk) {
                addNode(findingkind::UsedBeforeComputed,
                        kError,
                        i,
                        QStringLiteral("%1的公式用到“%2”，但运行到此时“%2”所在的子树尚未进入运行，"
                                       "取值表中还没有它")
                            .arg(itemLabel(i), name));
                sound = false;
                continue;
            }
            const auto computed = firstComputed.constFind(g);
            if (computed != firstComputed.constEnd() && *computed > static_cast<int>(e)) {
                const int by = m_events[static_cast<size_t>(*computed)].first;
                addNode(findingkind::UsedBeforeComputed,
                        kError,
                        i,
                        QStringLiteral("%1的公式用到“%2”，而运行在它之后才计算%3")
                            .arg(itemLabel(i), name, itemLabel(by)));
                sound = false;
            }
            dependsOnFailure = dependsOnFailure || m_failedGroups.contains(g);
        }
        if (!names.translateError.isEmpty())
            addNode(findingkind::CompileError, kError, i, names.translateError);
        if (!sound || dependsOnFailure) {
            // Not evaluated: its own finding or the one it depends on says why.
            m_failedGroups.insert(own);
            continue;
        }
        evaluate(i, values);
    }
    m_complier.reset();
    if (m_outOfTime)
        m_result.notChecked.append(
            QStringLiteral("公式求值用完了允许的 %1 ms，其后的公式未检查是否能编译")
                .arg(m_options.evaluationBudgetMs));
}

void Checker::evaluate(int i, std::vector<QString> &values)
{
    const int own = m_groupOf[static_cast<size_t>(i)];
    if (m_complier && m_clock.elapsed() > m_options.evaluationBudgetMs)
        m_outOfTime = true;
    if (!m_complier || m_outOfTime) {
        m_failedGroups.insert(own);
        return;
    }
    const TqzNode &n = node(i);
    QString error;
    try {
        const QString substituted = m_complier->Translate(m_complier->Dictionary, n.Script);
        const QString result = m_complier->Evaluate(substituted);
        if (m_complier->Succeeded) {
            values[static_cast<size_t>(i)] = result;
            m_complier->Dictionary.AddWord(n.Name, substitutionText(result));
            return;
        }
        error = m_complier->ErrorText;
    } catch (const Error &e) {
        error = e.message();
    }
    m_failedGroups.insert(own);
    if (m_clock.elapsed() > m_options.evaluationBudgetMs) {
        m_outOfTime = true;
        return;
    }
    const QString unknown = undeclaredName(error);
    if (!unknown.isEmpty())
        addNode(findingkind::UnknownName,
                kError,
                i,
                QStringLiteral("%1的公式用到“%2”，但没有节点叫这个名称，解释器也不认识它 (%3)")
                    .arg(itemLabel(i), unknown, error),
                unknown);
    else
        addNode(findingkind::CompileError,
                kError,
                i,
                QStringLiteral("%1的公式按当前取值不能编译: %2").arg(itemLabel(i), error));
}

void Checker::checkDuplicates()
{
    const int count = m_tree.count();
    QHash<QString, int> firstOfCode;
    for (int i = 0; i < count; ++i) {
        if (standsIn(i))
            continue;
        const int first = m_members[static_cast<size_t>(m_groupOf[static_cast<size_t>(i)])].front();
        if (first != i && !node(i).Name.isEmpty())
            addNode(findingkind::DuplicateName,
                    kWarning,
                    i,
                    QStringLiteral("%1与%2同名%3，运行的取值表中两者共用一个值")
                        .arg(itemLabel(i),
                             itemLabel(first),
                             node(first).Name == node(i).Name
                                 ? QString()
                                 : QStringLiteral(" (名称不分大小写)")));
        const QString &code = node(i).Caption;
        if (code.trimmed().isEmpty())
            continue;
        const auto it = firstOfCode.constFind(code);
        if (it == firstOfCode.constEnd()) {
            firstOfCode.insert(code, i);
        } else if (m_groupOf[static_cast<size_t>(*it)] != m_groupOf[static_cast<size_t>(i)]) {
            addNode(
                findingkind::DuplicateCode,
                kWarning,
                i,
                QStringLiteral("%1的编码“%2”与%3的相同").arg(itemLabel(i), code, itemLabel(*it)));
        }
    }
}

void Checker::checkInputs()
{
    const int count = m_tree.count();
    QSet<int> reported;
    for (int i = 0; i < count; ++i) {
        if (!isInput(i) || node(i).Name.isEmpty())
            continue;
        const int g = m_groupOf[static_cast<size_t>(i)];
        if (reported.contains(g))
            continue;
        reported.insert(g);
        if (m_book.CellsOfName(node(i).Name).isEmpty())
            addNode(findingkind::InputNotShown,
                    kWarning,
                    i,
                    node(i).Name != upperAscii(node(i).Name)
                        ? QStringLiteral("输入%1没有单元格显示；单元格的标记按大写字母比较，"
                                         "含小写字母的名称不会被任何单元格匹配")
                              .arg(itemLabel(i))
                        : QStringLiteral("输入%1没有单元格显示，运行前无法在报表中输入它")
                              .arg(itemLabel(i)));
        if (!m_used[static_cast<size_t>(g)])
            addNode(findingkind::UnusedInput,
                    kWarning,
                    i,
                    QStringLiteral("输入%1没有被任何公式用到").arg(itemLabel(i)));
    }
}

void Checker::checkCells()
{
    QHash<QString, bool> hasFormula; // name -> some item of that exact name has a formula
    for (int i = 0; i < m_tree.count(); ++i)
        hasFormula[node(i).Name] = hasFormula.value(node(i).Name) || isFormula(i);
    TqzCellTag scratch;
    for (int p = 0; p < m_book.pageCount(); ++p) {
        const TqzReportPage &page = *m_book.page(p);
        for (int l = 0; l < page.lineCount(); ++l) {
            const TReportLine &line = *page.line(l);
            for (int c = 0; c < line.cellCount(); ++c) {
                const TReportCell &cell = *line.cell(c);
                std::optional<QString> key;
                try {
                    key = exchangeKey(cell.FCellText, cell.FTagID, scratch);
                } catch (const Error &e) {
                    addCell(findingkind::TagWithoutNode,
                            p,
                            l,
                            c,
                            trimTag(cell.FTagID),
                            QStringLiteral(
                                "单元格的标记无法解析，不对应任何节点，运行交换数据时会出错: ")
                                + e.message());
                    continue;
                }
                if (!key || *key == QLatin1String("PAGENUM") || *key == QLatin1String("PAGECOUNT"))
                    continue;
                const auto found = hasFormula.constFind(*key);
                if (found == hasFormula.constEnd()) {
                    addCell(findingkind::TagWithoutNode,
                            p,
                            l,
                            c,
                            *key,
                            QStringLiteral("单元格标记为“%1”，但没有节点叫这个名称").arg(*key));
                    continue;
                }
                const bool bracketed = trimTag(cell.FTagID).contains(QLatin1Char('['))
                                       && trimTag(cell.FTagID).contains(QLatin1Char(']'));
                if (bracketed && !scratch.SecondIsOne && !*found)
                    addCell(findingkind::ResultCellWithoutFormula,
                            p,
                            l,
                            c,
                            *key,
                            QStringLiteral("单元格标为结果，但节点“%1”没有公式，它显示的是输入值")
                                .arg(*key));
            }
        }
    }
}

ProjectCheckResult Checker::run()
{
    groupNames();
    analyseFormulas();
    walk();
    checkFormulas();
    checkDuplicates();
    checkInputs();
    checkCells();
    // Nodes in tree order, then cells in page order; within one place, kinds in list order.
    std::stable_sort(
        m_result.findings.begin(),
        m_result.findings.end(),
        [](const ProjectFinding &a, const ProjectFinding &b) {
            const auto key = [](const ProjectFinding &f) {
                return std::make_tuple(
                    f.item < 0, f.item, f.pageIndex, f.line, f.cellIndex, kindRank(f.kind));
            };
            return key(a) < key(b);
        });
    return m_result;
}

} // namespace

ProjectCheckResult checkProject(const TqzProject &project,
                                const TqzWorkbook &workbook,
                                const ProjectCheckOptions &options)
{
    Checker checker(project, workbook, options);
    return checker.run();
}

} // namespace tessarin
