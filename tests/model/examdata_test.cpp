// Test-data sets: first value wins, the .exm document, GB2312 with character references.

#include "examfile.h"
#include "qzproject.h"
#include "xmlio.h"

#include "atomicfile.h"
#include "error.h"

#include <QStringDecoder>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace tessarin;

namespace {

QStringList entries(const TqzExamData &set)
{
    QStringList out;
    for (const auto &e : set.NodeDatas)
        out << e->Name + "=" + e->Value;
    return out;
}

} // namespace

TEST(ExamData, FirstValueForANameWinsAndLetterCaseMakesADifferentName)
{
    TqzExamData set;
    set.AddNodeData("Q", "1");
    set.AddNodeData("q", "2");
    set.AddNodeData("Q", "3");
    set.AddNodeData("Q ", "4");
    EXPECT_EQ(entries(set), QStringList({"Q=1", "q=2", "Q =4"}));
    set.Add(std::make_unique<TqzNodeData>("Q", "5")); // no check
    EXPECT_EQ(set.NodeDatas.size(), 4u);
    set.ClearNodeDatas();
    EXPECT_TRUE(set.NodeDatas.empty());
}

TEST(ExamData, FileDeclaresGb2312AndWritesAttributesInOrder)
{
    TqzExamData set;
    EXPECT_EQ(set.Name, "测试用例");
    EXPECT_EQ(set.Author, "Tessarin");
    EXPECT_TRUE(set.CreateTime.contains(" - "));
    set.CreateTime = "2026-12-07 - 08:00:00";
    set.AddNodeData("流量", "50.0");

    const QByteArray bytes = ExamDataToBytes(set);
    EXPECT_TRUE(bytes.startsWith("<?xml version=\"1.0\" encoding=\"GB2312\"?>\n<root "));
    const QByteArray name = QByteArray("\xb2\xe2\xca\xd4\xd3\xc3\xc0\xfd"); // 测试用例
    EXPECT_TRUE(bytes.contains("<root Name=\"" + name
                               + "\" Author=\"Tessarin\" "
                                 "CreateTime=\"2026-12-07 - 08:00:00\" Remark=\"\">"));
    EXPECT_TRUE(bytes.contains("<TNodeData Name=\"\xc1\xf7\xc1\xbf\" Value=\"50.0\"/>")); // 流量

    TqzExamData empty;
    empty.Remark = "r";
    const QByteArray none = ExamDataToBytes(empty);
    EXPECT_TRUE(none.contains("Remark=\"r\"/>")) << none.constData();
    EXPECT_FALSE(none.contains("TNodeData"));
}

TEST(ExamData, CharactersOutsideGb2312AreReferencedAndReadBackUnchanged)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("VOK1.exm");
    TqzExamData set;
    const QString names[] = {"密度", "한국어", "π≈3.14159", "𝛑 emoji 😀", "€ & \"q\" <x>"};
    for (const QString &n : names)
        set.AddNodeData(n, n + "值");
    set.Remark = "备注 ünïcödé";
    SaveExamDataToFile(set, path);

    const QByteArray bytes = readWholeFile(path);
    EXPECT_TRUE(bytes.contains("&#54620;")) << "한 as a character reference";
    // Every byte sequence must be valid GB2312 (references are plain ASCII).
    QStringDecoder strict("GB2312", QStringDecoder::Flag::Stateless);
    const QString decoded = strict.decode(bytes);
    EXPECT_FALSE(strict.hasError());

    const QDomDocument doc = readXmlDocument(bytes, path);
    TqzExamData back;
    back.LoadFromXML(doc.documentElement());
    EXPECT_EQ(entries(back), entries(set));
    EXPECT_EQ(back.Remark, set.Remark);
    EXPECT_EQ(back.Name, set.Name);
}

TEST(ExamData, LoadKeepsRepetitionsAndMissingTextsAndReplacesEntries)
{
    const QDomDocument doc = readXmlDocument(
        "<root Author=\"x\"><TNodeData Name=\"a\" Value=\"1\"/><Other Name=\"a\" Value=\"2\"/>"
        "<TNodeData Value=\"3\"/></root>",
        "test");
    TqzExamData set;
    set.Name = "kept";
    set.AddNodeData("old", "0");
    set.LoadFromXML(doc.documentElement());
    EXPECT_EQ(set.Name, "kept");
    EXPECT_EQ(set.Author, "x");
    EXPECT_EQ(entries(set), QStringList({"a=1", "a=2", "=3"}));

    const QDomDocument bare = readXmlDocument("<root/>", "test");
    set.LoadFromXML(bare.documentElement());
    EXPECT_TRUE(set.NodeDatas.empty());
    EXPECT_EQ(set.Author, "x");
}

TEST(ExamData, ProjectSnapshotTakesFirstValuePerNameInTreeOrder)
{
    TqzProject project;
    LoadProjectFromStream(project,
                          "<FLW><TVariables>"
                          "<TVariable Name=\"H\" NodeID=\"2\" ParentID=\"1\" Value=\"child\"/>"
                          "<TVariable Name=\"top\" NodeID=\"1\" ParentID=\"1\" Value=\"t\"/>"
                          "<TVariable Name=\"H\" NodeID=\"3\" ParentID=\"3\" Value=\"later\"/>"
                          "</TVariables></FLW>");
    TqzExamData set;
    FillExamData(set, *project.TreeView);
    EXPECT_EQ(set.Name, "top");
    EXPECT_EQ(entries(set), QStringList({"top=t", "H=child"}));

    TqzProject empty;
    TqzExamData untouched;
    FillExamData(untouched, *empty.TreeView);
    EXPECT_EQ(untouched.Name, "测试用例");
}

TEST(ExamData, UnwritableFileIsReportedAndOldFileKept)
{
    QTemporaryDir dir;
    TqzExamData set;
    EXPECT_THROW(SaveExamDataToFile(set, dir.filePath("no/such/dir/VOK1.exm")), Error);

    const QString path = dir.filePath("VOK2.exm");
    SaveExamDataToFile(set, path);
    set.AddNodeData("a", "1");
    SaveExamDataToFile(set, path); // replaces the existing file
    EXPECT_TRUE(readWholeFile(path).contains("TNodeData"));
}

// Whatever a set holds that a .exm document can carry reads back exactly: characters on which
// the GB2312 and GB18030 tables disagree or that only GB18030 has (private use, U+2015), blanks
// that attribute reading would normalise, markup characters and characters outside the BMP.
TEST(ExamData, TextsReadBackExactlyFromTheDocumentWritten)
{
    const QString texts[] = {
        QString(QChar(0xE549)) + QChar(0xE4A0), // private use; A263 in GB18030
        QStringLiteral("―—"),
        QStringLiteral("\ta\nb\r\n c "),
        QStringLiteral("]]> &amp; <x a=\"'\"/>"),
        QStringLiteral("𝛑😀") + QChar(0xFFFD),
        QString(),
    };
    for (const QString &text : texts) {
        TqzExamData set;
        set.Name = text;
        set.Author = text;
        set.CreateTime = text;
        set.Remark = text;
        set.Add(std::make_unique<TqzNodeData>(text, text));
        const QByteArray bytes = ExamDataToBytes(set);

        TqzExamData back;
        back.NodeDatas.push_back(std::make_unique<TqzNodeData>("old", "0"));
        LoadExamDataFromBytes(back, bytes, "mem");
        const QStringList expected{text, text, text, text};
        EXPECT_EQ((QStringList{back.Name, back.Author, back.CreateTime, back.Remark}), expected)
            << bytes.toStdString();
        EXPECT_EQ(entries(back), QStringList{text + "=" + text});
        EXPECT_EQ(ExamDataToBytes(back), bytes);
    }
}
