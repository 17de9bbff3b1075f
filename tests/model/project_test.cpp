// The project element: which lists and attributes are read, saving with renumbering, finding
// nodes by name, and loads that fail without losing the previous contents.

#include "treehelpers.h"
#include "xmlio.h"

#include "atomicfile.h"
#include "error.h"
#include "programdir.h"

#include <QTemporaryDir>

#include <random>

#include <gtest/gtest.h>

using namespace tessarin;

namespace {

QByteArray doc(const QString &body)
{
    return ("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<FLW>" + body + "</FLW>").toUtf8();
}

// A project whose tree is "a(b,c(d)),e" with Chinese texts, built in memory.
void fillSample(TqzProject &project)
{
    TqzProjectTree &tree = *project.TreeView;
    auto add = [&](const QString &name, const QModelIndex &parent = {}) {
        auto node = std::make_unique<TqzNode>();
        node->Name = name;
        node->Caption = name.toUpper();
        node->Script = name == "a" ? "b+c*2" : "";
        node->Value = "1.5";
        node->Unit = "m³/h 立方米每小时";
        node->NodeID = 77; // stale IDs: saving must renumber
        node->ParentID = 99;
        return tree.appendNode(std::move(node), parent);
    };
    const QModelIndex a = add("a");
    add("b", a);
    const QModelIndex c = add("c", a);
    add("d", c);
    add("e");
    project.Name = "离心泵";
    project.RunTimeLibrary->Headers = {"math.h", "泵.h"};
    project.RunTimeLibrary->StdLib = false;
}

} // namespace

TEST(Project, NodeListComesFromTVariablesBeforeTProcess)
{
    TqzProject project;
    LoadProjectFromStream(project,
                          doc("<TProcess>" + nodeXml("old", 1, 1)
                              + "</TProcess>"
                                "<TVariables>"
                              + nodeXml("new", 1, 1) + "</TVariables>"));
    EXPECT_EQ(treeShape(*project.TreeView), "new");

    LoadProjectFromStream(project, doc("<TProcess>" + nodeXml("old", 1, 1) + "</TProcess>"));
    EXPECT_EQ(treeShape(*project.TreeView), "old");

    // Without any list the tree stays; an empty list empties it.
    LoadProjectFromStream(project, doc("<TRTL/>"));
    EXPECT_EQ(treeShape(*project.TreeView), "old");
    LoadProjectFromStream(project, doc("<TVariables/>"));
    EXPECT_EQ(project.TreeView->count(), 0);
}

TEST(Project, StdLibIsTrueOnlyForOneAndMissingKeepsThePreviousValue)
{
    const std::pair<const char *, bool> cases[]
        = {{"1", true}, {"0", false}, {"true", false}, {"", false}, {" 1", false}};
    for (const auto &[text, expected] : cases) {
        SCOPED_TRACE(text);
        TqzProject project;
        LoadProjectFromStream(project, doc(QString("<TRTL StdLib=\"%1\"/>").arg(text)));
        EXPECT_EQ(project.RunTimeLibrary->StdLib, expected);
    }
    TqzProject project;
    EXPECT_TRUE(project.RunTimeLibrary->StdLib);
    project.RunTimeLibrary->StdLib = false;
    LoadProjectFromStream(project, doc("<TRTL FileName=\"x.h\"/>"));
    EXPECT_FALSE(project.RunTimeLibrary->StdLib);
    EXPECT_EQ(project.RunTimeLibrary->FileName, "x.h");
}

TEST(Project, RuntimeLibraryDefaultsAndHeadersFromEveryChild)
{
    TqzProject project;
    EXPECT_EQ(project.RunTimeLibrary->LibraryPath, programDirectory() + "/include//");
    EXPECT_EQ(project.RunTimeLibrary->FileName, "project.h");

    project.RunTimeLibrary->Headers = {"stale.h"};
    LoadProjectFromStream(project,
                          doc("<TRTL><THeader Name=\"a.h\"/><Other Name=\"b.h\"/>"
                              "<THeader/></TRTL>"));
    EXPECT_EQ(project.RunTimeLibrary->Headers, QStringList({"a.h", "b.h", ""}));
    EXPECT_EQ(project.RunTimeLibrary->LibraryPath, programDirectory() + "/include//");
}

TEST(Project, SaveRenumbersInMemoryAndLoadGivesTheSameTree)
{
    TqzProject project;
    fillSample(project);
    const QByteArray bytes = SaveProjectToBytes(project);

    const TqzProjectTree &tree = *project.TreeView;
    const int expectedParents[] = {0, 0, 0, 2, 4}; // top-level items carry their own index
    for (int i = 0; i < tree.count(); ++i) {
        EXPECT_EQ(tree.nodeAt(i)->NodeID, i);
        EXPECT_EQ(tree.nodeAt(i)->ParentID, expectedParents[i]);
    }

    TqzProject loaded;
    LoadProjectFromStream(loaded, bytes);
    EXPECT_EQ(treeShape(*loaded.TreeView), "a(b,c(d)),e");
    for (int i = 0; i < tree.count(); ++i) {
        const TqzNode &x = *tree.nodeAt(i);
        const TqzNode &y = *loaded.TreeView->nodeAt(i);
        EXPECT_EQ(std::tie(x.Name, x.Caption, x.Script, x.Value, x.Unit, x.NodeID, x.ParentID),
                  std::tie(y.Name, y.Caption, y.Script, y.Value, y.Unit, y.NodeID, y.ParentID));
    }
    EXPECT_EQ(loaded.Name, "离心泵");
    EXPECT_EQ(loaded.RunTimeLibrary->Headers, project.RunTimeLibrary->Headers);
    EXPECT_FALSE(loaded.RunTimeLibrary->StdLib);

    // Saving what was loaded gives the same bytes.
    EXPECT_EQ(SaveProjectToBytes(loaded), bytes);
}

TEST(Project, DomSaveAndStreamSaveWriteTheSameDocument)
{
    TqzProject project;
    fillSample(project);
    QDomDocument dom = newXmlDocument("GB2312");
    QDomElement root = dom.createElement("TqzProject");
    dom.appendChild(root);
    project.SaveToXML(root);
    EXPECT_EQ(writeXmlDocument(dom), SaveProjectToBytes(project));
}

TEST(Project, SavingIntoAnExistingElementReusesItsListsAndReplacesTheNodes)
{
    QDomDocument dom = readXmlDocument(
        doc("<TqzExcel Keep=\"1\"/><TRTL><THeader Name=\"old.h\"/></TRTL>"
            "<TVariables><TVariable Name=\"gone\"/><TVariable Name=\"gone2\"/></TVariables>"),
        "test");
    QDomElement root = dom.documentElement();
    TqzProject project;
    fillSample(project);
    project.SaveToXML(root);
    project.SaveToXML(root); // a second save must not add anything

    EXPECT_EQ(root.elementsByTagName("TRTL").count(), 1);
    EXPECT_EQ(root.elementsByTagName("TVariables").count(), 1);
    EXPECT_EQ(root.elementsByTagName("THeader").count(), 2);
    EXPECT_EQ(root.firstChildElement("TqzExcel").attribute("Keep"), "1");
    const QDomElement list = root.firstChildElement("TVariables");
    QStringList names;
    int i = 0;
    for (QDomElement e = list.firstChildElement(); !e.isNull(); e = e.nextSiblingElement(), ++i) {
        names << e.attribute("Name");
        EXPECT_EQ(e.attribute("NodeID").toInt(), i);
    }
    EXPECT_EQ(names, QStringList({"a", "b", "c", "d", "e"}));

    TqzProject back;
    back.LoadFromXML(root);
    EXPECT_EQ(treeShape(*back.TreeView), "a(b,c(d)),e");
    EXPECT_EQ(back.RunTimeLibrary->Headers, QStringList({"math.h", "泵.h"}));
}

TEST(Project, FindNodeByNameWantsAnExactNameAndANonBlankScript)
{
    TqzProject project;
    LoadProjectFromStream(
        project,
        doc("<TVariables>"
            "<TVariable Name=\"Q\" NodeID=\"1\" ParentID=\"1\" Script=\"\"/>"
            "<TVariable Name=\"Q\" NodeID=\"2\" ParentID=\"1\" Script=\" &#9;&#10; \"/>"
            "<TVariable Name=\"H\" NodeID=\"3\" ParentID=\"3\" Script=\"x\"/>"
            "<TVariable Name=\"Q\" NodeID=\"4\" ParentID=\"3\" Script=\" a+b \"/>"
            "<TVariable Name=\"q\" NodeID=\"5\" ParentID=\"5\" Script=\"c\"/>"
            "</TVariables>"));
    const TqzProjectTree &tree = *project.TreeView;
    const std::pair<const char *, int> cases[]
        = {{"Q", 3}, {"q", 4}, {"H", 2}, {" Q", -1}, {"Q ", -1}, {"Z", -1}, {"", -1}};
    for (const auto &[name, expected] : cases) {
        SCOPED_TRACE(name);
        project.FindNodeByName("H"); // a previous result must not survive a miss
        const QModelIndex found = project.FindNodeByName(name);
        EXPECT_EQ(tree.absoluteIndex(found), expected);
        EXPECT_EQ(tree.absoluteIndex(project.SelectedNode), expected);
    }
    project.FindNodeByName("Q");
    LoadProjectFromStream(project, doc("<TVariables/>"));
    EXPECT_FALSE(project.SelectedNode.isValid());
}

TEST(Project, FailedLoadsKeepThePreviousContents)
{
    const QByteArray good
        = doc("<TRTL FileName=\"good.h\" StdLib=\"0\"><THeader Name=\"g.h\"/></TRTL><TVariables>"
              + nodeXml("a", 1, 1) + nodeXml("b", 2, 1) + "</TVariables>");
    struct Case
    {
        const char *label;
        QByteArray bytes;
        QStringList mustMention;
    };
    const Case cases[] = {
        {"unclosed element",
         "<?xml version=\"1.0\"?>\n<FLW>\n <TRTL FileName=\"bad.h\">\n</FLW>",
         {"line 4", "column", "src.flw"}},
        {"truncated", good.left(good.size() / 2), {"line", "src.flw"}},
        {"garbage", "\x01\x02 not xml at all", {"line 1", "src.flw"}},
        {"empty", "", {"src.flw"}},
        {"bad NodeID after good TRTL",
         doc("<TRTL FileName=\"bad.h\"/><TVariables>" + nodeXml("x", 1, 1)
             + "<TVariable Name=\"y\" NodeID=\"seven\"/></TVariables>"),
         {"\"NodeID\"", "\"seven\"", "line", "src.flw"}},
        {"bad ParentID in old list",
         doc("<TProcess><TVariable Name=\"y\" ParentID=\"1e3\"/></TProcess>"),
         {"\"ParentID\"", "\"1e3\""}},
        {"invalid GB2312 byte",
         QByteArray("<?xml version=\"1.0\" encoding=\"GB2312\"?>\n<FLW Name=\"\xff\xff\"/>"),
         {"GB2312", "line 2", "src.flw"}},
        {"nested too deep", QByteArray("<a>").repeated(100000), {"nested", "src.flw"}},
        {"unknown encoding",
         QByteArray("<?xml version=\"1.0\" encoding=\"X-NOPE\"?><FLW/>"),
         {"X-NOPE", "src.flw"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        TqzProject project;
        LoadProjectFromStream(project, good, "good.flw");
        try {
            LoadProjectFromStream(project, c.bytes, "src.flw");
            ADD_FAILURE() << "no error";
        } catch (const Error &e) {
            for (const QString &word : c.mustMention)
                EXPECT_TRUE(e.message().contains(word))
                    << e.what() << " lacks " << word.toStdString();
        }
        EXPECT_EQ(treeShape(*project.TreeView), "a(b)");
        EXPECT_EQ(project.RunTimeLibrary->FileName, "good.h");
        EXPECT_EQ(project.RunTimeLibrary->Headers, QStringList({"g.h"}));
        EXPECT_FALSE(project.RunTimeLibrary->StdLib);
    }
}

TEST(Project, Gb2312FileWithGbkCharactersReadsThemUnchanged)
{
    // Files labelled GB2312 by Windows tools hold GBK: 镕 and 喆 are outside GB2312 proper.
    const QByteArray bytes = "<?xml version=\"1.0\" encoding=\"gb2312\"?>\n<FLW><TVariables>"
                             "<TVariable Name=\"\xe9\x46\x86\xb4\xb1\xc3\" NodeID=\"1\" "
                             "ParentID=\"1\"/></TVariables></FLW>";
    TqzProject project;
    LoadProjectFromStream(project, bytes);
    ASSERT_EQ(project.TreeView->count(), 1);
    EXPECT_EQ(project.TreeView->nodeAt(0)->Name, QString::fromUtf8("镕喆泵"));
}

TEST(Project, SavedFileIsWrittenWholeOrNotAtAll)
{
    QTemporaryDir dir;
    TqzProject project;
    fillSample(project);
    const QString path = dir.filePath("p.flw");
    SaveProjectToFile(project, path);
    EXPECT_EQ(readWholeFile(path), SaveProjectToBytes(project));
    EXPECT_THROW(SaveProjectToFile(project, dir.filePath("missing/dir/p.flw")), Error);
}

TEST(Project, DamagedFilesEitherLoadOrFailCleanly)
{
    const QByteArray original =
        readWholeFile(QStringLiteral(TESSARIN_TEST_DATA "/model/gb2312_project.flw"));
    std::mt19937 rng(2026);
    std::uniform_int_distribution<int> byte(0, 255);
    int failures = 0;
    for (int round = 0; round < 400; ++round) {
        QByteArray damaged = original;
        std::uniform_int_distribution<qsizetype> at(0, damaged.size() - 1);
        for (int k = round % 4; k >= 0; --k)
            damaged[at(rng)] = static_cast<char>(byte(rng));
        if (round % 5 == 0)
            damaged.truncate(at(rng));
        TqzProject project;
        LoadProjectFromStream(project, original);
        try {
            LoadProjectFromStream(project, damaged, "damaged.flw");
        } catch (const Error &e) {
            ++failures;
            EXPECT_TRUE(e.message().startsWith("damaged.flw: ")) << e.what();
            EXPECT_EQ(project.TreeView->count(), 5);
        }
    }
    EXPECT_GT(failures, 0);
}
