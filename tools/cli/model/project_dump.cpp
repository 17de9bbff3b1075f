// tessarin-cli project-dump FILE: the project part of a project file as JSON.

#include "command.h"

#include "qzproject.h"

#include <algorithm>

namespace tessarin::cli {
namespace {

// Indentation stops growing below this many levels, so a tree thousands of levels deep prints
// in output linear in its size instead of quadratic.
constexpr int kMaxIndentLevels = 32;

// JSON text written straight from the tree: the tree may be as deep as it is long (a chain
// of 100,000 nodes is a valid project), so the writer keeps no recursion and no nested
// document objects.
class JsonWriter
{
public:
    QByteArray text;

    void open(char bracket)
    {
        text += bracket;
        ++m_level;
        m_first = true;
    }

    void close(char bracket)
    {
        --m_level;
        if (!m_first)
            newLine();
        text += bracket;
        m_first = false;
    }

    // Starts the next member of an object ("key": ) or element of an array (key null).
    void item(const char *key = nullptr)
    {
        if (!m_first)
            text += ',';
        m_first = false;
        newLine();
        if (key) {
            text += '"';
            text += key;
            text += "\": ";
        }
    }

    void string(const QString &value)
    {
        QString escaped;
        escaped.reserve(value.size() + 2);
        escaped += QLatin1Char('"');
        for (const QChar c : value) {
            const char16_t u = c.unicode();
            if (u == u'"' || u == u'\\') {
                escaped += QLatin1Char('\\');
                escaped += c;
            } else if (u == u'\n') {
                escaped += QLatin1String("\\n");
            } else if (u == u'\t') {
                escaped += QLatin1String("\\t");
            } else if (u < 0x20) {
                escaped += QStringLiteral("\\u%1").arg(int(u), 4, 16, QLatin1Char('0'));
            } else {
                escaped += c;
            }
        }
        escaped += QLatin1Char('"');
        text += escaped.toUtf8();
    }

    void number(qint64 value) { text += QByteArray::number(value); }
    void boolean(bool value) { text += value ? "true" : "false"; }

private:
    void newLine()
    {
        text += '\n';
        text.append(4 * std::min(m_level, kMaxIndentLevels), ' ');
    }

    int m_level = 0;
    bool m_first = true; // nothing written yet in the innermost open object or array
};

// Opens the node's object and its "children" array; the caller closes both once the last
// item of the node's subtree is written.
void openNode(JsonWriter &w, const TqzNode &node)
{
    w.item();
    w.open('{');
    w.item("name");
    w.string(node.Name);
    w.item("caption");
    w.string(node.Caption);
    w.item("script");
    w.string(node.Script);
    w.item("value");
    w.string(node.Value);
    w.item("unit");
    w.string(node.Unit);
    w.item("nodeId");
    w.number(node.NodeID);
    w.item("parentId");
    w.number(node.ParentID);
    w.item("children");
    w.open('[');
}

void closeNode(JsonWriter &w)
{
    w.close(']');
    w.close('}');
}

// The top-level items with their subtrees, in pre-order: a node's object stays open until the
// last item of its subtree is written.
void writeNodes(JsonWriter &w, const TqzProjectTree &tree)
{
    w.open('[');
    const int count = tree.count();
    for (int i = 0; i < count; ++i) {
        openNode(w, *tree.nodeAt(i));
        if (tree.lastDescendant(i) != i)
            continue;
        closeNode(w);
        for (int p = tree.parentIndex(i); p >= 0 && tree.lastDescendant(p) == i;
             p = tree.parentIndex(p))
            closeNode(w);
    }
    w.close(']');
}

int run(const QCommandLineParser &parser)
{
    const QString file = positional(parser, 1).at(0);
    TqzProject project;
    LoadProjectFromFile(project, file);

    const TqzRunTimeLibrary &rtl = *project.RunTimeLibrary;
    JsonWriter w;
    w.open('{');
    w.item("name");
    w.string(project.Name);
    w.item("rtl");
    w.open('{');
    w.item("libraryPath");
    w.string(rtl.LibraryPath);
    w.item("fileName");
    w.string(rtl.FileName);
    w.item("stdLib");
    w.boolean(rtl.StdLib);
    w.item("headers");
    w.open('[');
    for (const QString &header : rtl.Headers) {
        w.item();
        w.string(header);
    }
    w.close(']');
    w.close('}');
    w.item("nodes");
    writeNodes(w, *project.TreeView);
    w.close('}');
    w.text += '\n';
    printRaw(w.text);
    return 0;
}

const bool registered = registerCommand({
    QStringLiteral("project-dump"),
    QStringLiteral("Load the project part of a project file and print it as JSON."),
    [](QCommandLineParser &parser) { addProjectFileArgument(parser); },
    run,
});

} // namespace
} // namespace tessarin::cli
