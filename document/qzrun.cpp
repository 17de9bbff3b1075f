#include "qzrun.h"

#include "dispformat.h"
#include "dynlib.h"
#include "error.h"
#include "numbertext.h"
#include "qzcomplier.h"
#include "qzproject.h"
#include "qztranslate.h"
#include "qzworkbook.h"
#include "tickcount.h"

#include <exception>
#include <vector>

namespace tessarin {

namespace {

// Thrown inside a run to end it at the next step after requestStop().
struct StopRequested
{
};

bool isBlank(QChar c)
{
    return c.unicode() <= 0x20;
}

} // namespace

bool isIntegerLiteral(const QString &text)
{
    qsizetype i = 0;
    qsizetype end = text.size();
    while (i < end && isBlank(text[i]))
        ++i;
    while (end > i && isBlank(text[end - 1]))
        --end;
    if (i < end && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-')))
        ++i;
    if (i == end)
        return false;
    for (; i < end; ++i)
        if (text[i] < QLatin1Char('0') || text[i] > QLatin1Char('9'))
            return false;
    return true;
}

// Code units no name read from a project can hold (XML carries neither U+FFFF nor a lone
// surrogate): a failed name's place in the value table is U+FFFF, its index in base 1024 written
// with the low surrogates U+DC00..U+DFFF, then U+FFFF.
namespace {
constexpr char16_t kMarkerEnd = 0xFFFF;
constexpr char16_t kMarkerDigit = 0xDC00;
} // namespace

QString failureMarker(int index)
{
    QString digits;
    do {
        digits.prepend(QChar(char16_t(kMarkerDigit + index % 1024)));
        index /= 1024;
    } while (index > 0);
    return QChar(kMarkerEnd) + digits + QChar(kMarkerEnd);
}

// The index of the first failure marker in a substituted formula, else -1. A U+FFFF that
// starts no well-formed marker (a page's text can hold anything) is passed over.
int failedReference(const QString &substituted, size_t failures)
{
    for (qsizetype at = substituted.indexOf(QChar(kMarkerEnd)); at >= 0;
         at = substituted.indexOf(QChar(kMarkerEnd), at + 1)) {
        qint64 index = 0;
        qsizetype i = at + 1;
        for (; i < substituted.size(); ++i) {
            const char16_t c = substituted[i].unicode();
            if (c < kMarkerDigit || c >= kMarkerDigit + 1024 || index >= qint64(failures))
                break;
            index = index * 1024 + (c - kMarkerDigit);
        }
        if (i > at + 1 && i < substituted.size() && substituted[i] == QChar(kMarkerEnd)
            && index < qint64(failures))
            return static_cast<int>(index);
    }
    return -1;
}

QString substitutionText(const QString &value)
{
    const QString trimmed = value.trimmed();
    if (trimmed.startsWith(QLatin1Char('-')) && isNumberText(trimmed))
        return QLatin1Char('(') + trimmed + QLatin1Char(')');
    return value;
}

TqzRun::TqzRun(TqzProject &project,
               TqzWorkbook &workbook,
               const TqzTranslate &codeTable,
               TqzRunHost &host)
    : m_project(project)
    , m_workbook(workbook)
    , m_codeTable(codeTable)
    , m_host(host)
{}

TqzRun::~TqzRun() = default;

TqzProjectTree &TqzRun::tree() const
{
    return *m_project.TreeView;
}

bool TqzRun::isRunning() const
{
    return m_running;
}

void TqzRun::requestStop()
{
    if (m_running)
        m_stopRequested = true;
}

TqzRunResult TqzRun::runProject()
{
    if (m_running) {
        TqzRunResult refused;
        refused.refused = true;
        return refused;
    }
    if (tree().count() > 0)
        m_host.selectItem(tree().itemAt(0));
    return runSelected();
}

TqzRunResult TqzRun::runPage(const QString &tabCaption)
{
    if (m_running) {
        TqzRunResult refused;
        refused.refused = true;
        return refused;
    }
    const QModelIndex item = m_project.FindNodeByName(tabCaption);
    if (!item.isValid())
        return {};
    m_host.selectItem(item);
    return runSelected();
}

TqzRunResult TqzRun::runSelected()
{
    if (m_running) {
        TqzRunResult refused;
        refused.refused = true;
        return refused;
    }
    TqzProjectTree &items = tree();
    if (items.count() == 0)
        return {};
    QModelIndex selected = m_host.selectedItem();
    if (!selected.isValid() || selected.model() != &items) {
        m_host.selectItem(items.itemAt(0));
        selected = m_host.selectedItem();
        // A host that keeps no selection still runs the first item.
        if (!selected.isValid() || selected.model() != &items)
            selected = items.itemAt(0);
    }
    const QPersistentModelIndex top(selected);

    m_running = true;
    m_stopRequested = false;
    m_result = TqzRunResult();
    m_result.started = true;
    m_namesakesDone.clear();
    m_work = 0;
    m_workLimit = RunWorkBase + RunWorkPerItem * qint64(items.count());
    m_failedNames.clear();
    m_failedNow.clear();
    m_firstOfNameValid = false;

    m_host.beginBusy();
    const int topIndex = items.absoluteIndex(top);
    m_host.postProgress(0, items.lastDescendant(topIndex) - topIndex);
    const std::uint32_t start = GetTickCount();
    m_host.clearLog();

    QString failure;
    try {
        // The interpreter is bound before anything is read or changed, so a run that cannot
        // evaluate leaves the nodes and the pages as they were.
        Complier = std::make_unique<TqzComplier>();
        // A stop request reaches a step in progress too: its script is stopped.
        Complier->setStopCheck([this] {
            m_host.processPendingMessages();
            return m_stopRequested;
        });
        if (!Complier->isBound())
            throw Error(QStringLiteral("无法加载解释器库 scriptrt.dll (查找位置: %1): %2")
                            .arg(DynamicLibrary::platformFileName(QStringLiteral("scriptrt.dll")),
                                 Complier->bindError()));

        m_host.appendLog(QStringLiteral("正在从报表中获取流程数据..."));
        ReadValuesFromReport();
        m_host.appendLog(QStringLiteral("初始化流程取值..."));
        NormaliseValues();
        m_host.appendLog(QStringLiteral("开始编译流程..."));
        CompileSubtree(top);
        Complier.reset();
        m_host.appendLog(QStringLiteral("发送编译结果给报表..."));
        SendResultsToReport();
        m_host.appendLog(QStringLiteral("编译完毕"));
    } catch (const StopRequested &) {
        failure = QStringLiteral("运行已按请求停止");
    } catch (const Error &e) {
        failure = e.message();
    } catch (const std::exception &e) {
        failure = QString::fromUtf8(e.what());
    } catch (...) {
        failure = QStringLiteral("未知错误");
    }
    Complier.reset();
    m_firstOfNameValid = false;
    if (!failure.isNull()) {
        m_result.aborted = true;
        m_result.abortMessage = failure;
        m_host.appendLog(QStringLiteral("运行中止: ") + failure);
    }
    m_result.elapsedMs = GetTickCount() - start;
    m_host.appendLog(QStringLiteral("编译时间: %1ms").arg(m_result.elapsedMs));
    m_host.postProgress(2, 0);
    m_host.endBusy();
    m_running = false;
    m_stopRequested = false;
    return m_result;
}

void TqzRun::ReadValuesFromReport()
{
    TqzProjectTree &items = tree();
    const int count = items.count();
    // Every answer first (one pass over each page), so a page that throws leaves all nodes as
    // they were. Items sharing a name share the answer.
    QHash<QString, QString> answers;
    answers.reserve(count);
    for (int i = 0; i < count; ++i)
        answers.insert(items.nodeAt(i)->Name, QString());
    m_workbook.GetTagValues(answers);
    QSet<QString> reported;
    for (int i = 0; i < count; ++i) {
        TqzNode *node = items.nodeAt(i);
        const QString &answer = answers[node->Name];
        if (!answer.isEmpty()) {
            // "60\r\n" from an edit box of an earlier version is the number 60.
            node->Value = numberCellText(answer);
        } else if (node->Script.isEmpty() && !node->Value.isEmpty()
                   && !reported.contains(node->Name)
                   && !m_workbook.CellsOfName(node->Name).isEmpty()) {
            // An input left empty keeps the node's value (stored projects rely on it), but
            // not silently.
            reported.insert(node->Name);
            m_result.emptyInputs.append(node->Name);
            m_host.appendLog(
                QStringLiteral("  输入为空，沿用 %1 = %2").arg(node->Name, node->Value));
        }
    }
}

void TqzRun::NormaliseValues()
{
    TqzProjectTree &items = tree();
    const int count = items.count();
    for (int i = count - 1; i >= 0; --i) {
        TqzNode *node = items.nodeAt(i);
        if (items.childCount(i) > 0 && !node->Script.isEmpty())
            node->Value = QStringLiteral("0.0");
    }
    for (int i = count - 1; i >= 0; --i) {
        TqzNode *node = items.nodeAt(i);
        if (items.childCount(i) == 0 && node->Script.isEmpty() && isIntegerLiteral(node->Value))
            node->Value = node->Value.trimmed() + QStringLiteral(".0");
    }
}

void TqzRun::SendResultsToReport()
{
    TqzProjectTree &items = tree();
    const int count = items.count();
    QSet<QString> sent;
    sent.reserve(count);
    QHash<QString, QString> values;
    values.reserve(count);
    for (int i = 0; i < count; ++i) {
        const TqzNode *node = items.nodeAt(i);
        const QString key = node->Name.toCaseFolded();
        if (sent.contains(key))
            continue;
        sent.insert(key);
        values.insert(node->Name, node->Value);
    }
    m_workbook.SetTagValues(values);
    m_workbook.UpdatePageFields();
}

QModelIndex TqzRun::LastDescendant(const QModelIndex &item) const
{
    const int index = tree().absoluteIndex(item);
    if (index < 0)
        return {};
    return tree().itemAt(tree().lastDescendant(index));
}

int TqzRun::earlierNamesake(int absoluteIndex) const
{
    const TqzProjectTree &items = tree();
    const QString &name = items.nodeAt(absoluteIndex)->Name;
    if (m_running) {
        // The tree does not change during a run: the first item of each name is found once,
        // when the first leaf with a script asks.
        if (!m_firstOfNameValid) {
            m_firstOfName = firstItemsOfNames(items);
            m_firstOfNameValid = true;
        }
        return earlierNamesakeOf(m_firstOfName, name, absoluteIndex);
    }
    for (int i = 0; i <= absoluteIndex - 2; ++i)
        if (items.nodeAt(i)->Name == name)
            return i;
    return -1;
}

QHash<QString, int> firstItemsOfNames(const TqzProjectTree &tree)
{
    QHash<QString, int> first;
    first.reserve(tree.count());
    for (int i = tree.count() - 1; i >= 0; --i)
        first.insert(tree.nodeAt(i)->Name, i);
    return first;
}

int earlierNamesakeOf(const QHash<QString, int> &firstOfName,
                      const QString &name,
                      int absoluteIndex)
{
    // The first item of the name qualifies exactly when it lies at least two places before;
    // when it is the item just before or the item itself, no earlier one exists.
    const int first = firstOfName.value(name, -1);
    return first >= 0 && first <= absoluteIndex - 2 ? first : -1;
}

QModelIndex TqzRun::FindEarlierNamesake(const QModelIndex &item) const
{
    const int index = tree().absoluteIndex(item);
    if (index < 0)
        return {};
    const int found = earlierNamesake(index);
    return found < 0 ? QModelIndex() : tree().itemAt(found);
}

void TqzRun::CompileSubtree(const QModelIndex &item)
{
    if (!Complier)
        return;
    const int first = tree().absoluteIndex(item);
    if (first < 0 || !tree().nodeAt(first))
        return;
    compileRange(first);
}

void TqzRun::compileRange(int first)
{
    // The walk keeps its own stack of subtrees: a namesake leaf suspends the subtree it is in
    // while the earlier subtree runs, however long a chain of them a project holds.
    struct Frame
    {
        int first;
        int last;
        int i;          // the next item to visit, counting down to `first`
        int step = 1;   // this subtree's step number
        int visits = 0; // this subtree's progress position
    };
    TqzProjectTree &items = tree();
    std::vector<Frame> frames;
    auto enter = [&](int from, const QString &via) {
        const int to = items.lastDescendant(from);
        // Every entered subtree costs its size twice (value table, then the walk); nested
        // namesakes can make the sum grow with the square of the tree, so it is bounded.
        m_work += qint64(to - from + 1);
        if (m_work > m_workLimit)
            throw Error(QStringLiteral("计算量超出上限: 经同名模块 %1 进入的子树使本次运行累计访问 "
                                       "%2 个节点, 超过上限 %3 (工程节点数的 %4 倍加 %5); "
                                       "请检查同名模块是否层层嵌套")
                            .arg(via)
                            .arg(m_work)
                            .arg(m_workLimit)
                            .arg(RunWorkPerItem)
                            .arg(RunWorkBase));
        for (int k = from; k <= to; ++k) {
            const TqzNode *node = items.nodeAt(k);
            Complier->Dictionary.AddWord(node->Name, tableValue(*node));
        }
        frames.push_back(Frame{from, to, to});
    };
    enter(first, items.nodeAt(first)->Name);
    while (!frames.empty()) {
        Frame &f = frames.back();
        if (f.i < f.first) {
            frames.pop_back();
            continue;
        }
        const int i = f.i--;
        const TqzNode *node = items.nodeAt(i);
        m_host.postProgress(1, ++f.visits);
        if (items.childCount(i) == 0 && !node->Script.isEmpty()) {
            const int namesake = earlierNamesake(i);
            if (namesake >= 0) {
                if (!m_namesakesDone.contains(namesake)) {
                    m_namesakesDone.insert(namesake);
                    enter(namesake, node->Name); // `f` is not used after this
                } else {
                    m_host.appendLog(QStringLiteral("  跳过同名模块: ") + node->Name
                                     + QStringLiteral(" (其子树在本次运行中已计算过)"));
                    stepDone();
                }
                continue;
            }
        }
        Complier->Source = node->Script;
        if (Complier->Source.isEmpty() || Complier->HasMain())
            continue;
        evaluateStep(i, f.step);
        ++f.step;
        stepDone();
    }
}

void TqzRun::evaluateStep(int index, int step)
{
    TqzNode *node = tree().nodeAt(index);
    const QString source = Complier->Source;
    ++m_result.steps;
    TqzRunStep done;
    done.number = step;
    done.nodeIndex = index;
    done.formula = source;
    m_host.appendLog(QStringLiteral("第%1步-----计算: ").arg(step) + node->Name);
    m_host.appendLog(QStringLiteral("   中文脚本: ") + source);
    try {
        m_host.appendLog(QStringLiteral("   列计算式: ") + m_codeTable.Translate(source));
        const QString substituted = Complier->Translate(Complier->Dictionary, source);
        // A formula that refers to a result that failed earlier in this run is not evaluated
        // with a stale or missing value: it fails too, naming the result it depends on.
        if (const int failed = failedReference(substituted, m_failedNames.size()); failed >= 0) {
            done.error = QStringLiteral("引用的 %1 在本次运行中计算失败")
                             .arg(m_failedNames[static_cast<size_t>(failed)]);
            done.failed = true;
            failStep(node, done.error);
        } else {
            done.substituted = substituted;
            m_host.appendLog(QStringLiteral("   代入数据: ") + substituted);
            const QString result = Complier->Evaluate(substituted);
            if (Complier->Succeeded) {
                m_failedNow.remove(node->Name);
                node->Value = result;
                Complier->Dictionary.AddWord(node->Name, substitutionText(result));
                m_host.appendLog(QStringLiteral("  编译成功 解得: ") + node->Caption
                                 + QStringLiteral(" = ") + node->Value + QStringLiteral(" (")
                                 + node->Unit + QLatin1Char(')'));
            } else {
                done.error = Complier->ErrorText;
                done.failed = true;
                failStep(node, done.error);
            }
        }
    } catch (const Error &e) {
        // A formula the engine refuses to handle (too long once substituted, say) fails its
        // own step only, like a formula the interpreter rejects.
        done.error = e.message();
        done.failed = true;
        failStep(node, done.error);
    }
    m_host.appendLog(QStringLiteral("  "));
    done.name = node->Name;
    done.caption = node->Caption;
    done.unit = node->Unit;
    done.result = node->Value;
    m_host.stepDone(done);
}

void TqzRun::failStep(TqzNode *node, const QString &message)
{
    // The node's previous result would be written back into the pages beside the failure and
    // read as this run's answer; it is emptied instead, and later formulas that use it fail.
    ++m_result.failedSteps;
    m_result.failures.append({node->Name, message});
    node->Value.clear();
    if (!m_failedNow.contains(node->Name)) {
        m_failedNow.insert(node->Name, static_cast<int>(m_failedNames.size()));
        m_failedNames.push_back(node->Name);
    }
    Complier->Dictionary.AddWord(node->Name, tableValue(*node));
    m_host.appendLog(QStringLiteral("  编译失败 错误信息: ") + message);
}

QString TqzRun::tableValue(const TqzNode &node) const
{
    const auto failed = m_failedNow.constFind(node.Name);
    return failed != m_failedNow.constEnd() ? failureMarker(*failed) : substitutionText(node.Value);
}

void TqzRun::stepDone()
{
    m_host.processPendingMessages();
    if (m_stopRequested)
        throw StopRequested();
}

} // namespace tessarin
