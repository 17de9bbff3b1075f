#pragma once
// Runs one project many times with different input values, without pages and without the log,
// and gives for every case the node values and the failed-step count a logged run of the whole
// project gives for the same inputs.
#include <QHash>
#include <QString>
#include <QStringList>

#include <memory>
#include <string>
#include <vector>

namespace tessarin {

class DynamicLibrary;
class TqzComplier;
class TqzWorkbook;
class TqzProject;
class TqzTranslate;

// What one case gave.
struct TqzCaseOutcome
{
    QStringList values; // the reported nodes' values, in the order they were asked for
    int failedSteps = 0;
};

class TqzCaseRunner
{
public:
    // `project` and `workbook` hold the project as the run would find it, with every value that
    // stays the same for all cases already typed in; `inputs` are typed anew for each case (into
    // the cells tagged so, else into the nodes named so), `reports` are read after each case.
    // The pages are used again only to read back what is typed into tagged cells. Throws Error
    // for an unknown input or report name, an empty project or a missing interpreter.
    TqzCaseRunner(TqzProject &project,
                  TqzWorkbook &workbook,
                  const TqzTranslate &codeTable,
                  const QStringList &inputs,
                  const QStringList &reports);
    ~TqzCaseRunner();
    TqzCaseRunner(const TqzCaseRunner &) = delete;
    TqzCaseRunner &operator=(const TqzCaseRunner &) = delete;

    // One case: `values` holds one text per input name. Throws Error when the pages refuse a
    // value.
    TqzCaseOutcome runCase(const QStringList &values);

    // Steps evaluated through a compiled shape with new numbers, and steps whose formula text
    // was built and evaluated (the first of each shape, and those the fast path cannot prove).
    qint64 shapedSteps() const { return m_shapedSteps; }
    qint64 textSteps() const { return m_textSteps; }

private:
    // A value as it enters the value table: its text and, for a plain number, its literal.
    struct Value
    {
        QString text;
        enum Class : unsigned char { Number, Other, Marker } cls = Other;
        bool negative = false;  // "(-...)"
        unsigned char kind = 0; // literal kind: 0 int, 1 int64, 2 uint64, 3 double
        unsigned long long bits = 0;
        int marker = -1; // failure index, for Marker
    };
    struct Signature;
    struct Formula;
    struct Op
    {
        int first;
        int last; // -1: evaluate node `first`
    };

    static Value classify(const QString &substituted);
    Formula &formulaOf(const QString &script);
    void analyse(Formula &f);
    void evaluate(int node);
    bool evaluateNumbers(Formula &f, QString &result);
    QString fillText(const Formula &f) const;
    QByteArray shapeText(const Formula &f, size_t entries) const;
    void succeed(int node, const QString &result);
    void fail(int node);
    void setEntry(int node);

    TqzWorkbook &m_workbook;
    const TqzTranslate &m_codeTable;
    std::unique_ptr<TqzComplier> m_complier;
    std::unique_ptr<DynamicLibrary> m_library;
    using ShapeFn = int (*)(const char *, char *, int, int *, unsigned long long *, int, int *);
    using ShapedFn
        = int (*)(const char *, int, const int *, const unsigned long long *, char *, int);
    ShapeFn m_shape = nullptr;
    ShapedFn m_shaped = nullptr;
    using PrepareFn = int (*)(const char *);
    PrepareFn m_prepare = nullptr;

    // Per node (absolute index): the script, its entry in the value table, its name's id.
    std::vector<QString> m_scripts;
    std::vector<int> m_entryOf;
    std::vector<int> m_nameOf;
    std::vector<QString> m_names; // by name id
    std::vector<bool> m_parentWithScript;
    std::vector<bool> m_leaf;
    std::vector<QString> m_fileValues;     // before the pages' answers
    std::vector<QString> m_baseNodeValues; // normalised, with the fixed answers of the pages
    std::vector<Value> m_baseValues;       // the same as the value table takes them
    std::vector<Op> m_ops;
    std::vector<std::unique_ptr<Formula>> m_formulas;
    QHash<QString, Formula *> m_formulaOf;
    std::unique_ptr<TqzTranslate> m_dictionary; // same keys in the same order as the run's
    bool m_keysAreWords = true;

    struct Input
    {
        QString name;
        bool tagged = false;
        std::vector<int> nodes;
        // What the case before typed, and what its nodes took.
        bool typedBefore = false;
        QString lastTyped;
        std::vector<QString> lastNodeValues;
        std::vector<Value> lastValues;
    };
    std::vector<Input> m_inputs;
    std::vector<int> m_reportNodes;

    // Per case.
    std::vector<Value> m_values; // node values as the table would take them
    std::vector<QString> m_nodeValues;
    std::vector<Value> m_entries; // the value table
    std::vector<int> m_failedNow; // name id -> failure index, -1 while not failed
    std::vector<int> m_failedNames;
    int m_failedSteps = 0;
    qint64 m_shapedSteps = 0;
    qint64 m_textSteps = 0;
    std::vector<int> m_kinds;
    std::vector<unsigned long long> m_bits;
    std::vector<char> m_code;
    std::string m_key;
};

} // namespace tessarin
