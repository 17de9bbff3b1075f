#include "error.h"
#include "textcodec.h"
#include "textlines.h"
#include "xmldocument.h"

#include <QDomDocument>

#include <gtest/gtest.h>

using namespace tessarin;

TEST(CodePage, ChineseRoundTripsAndMatchesGb2312Bytes)
{
    const QString text = QStringLiteral("泵的扬程 H=12.5m");
    const QByteArray bytes = toCodePage(text);
    // "泵" is B1C3 in GB2312; GB18030 agrees with it.
    EXPECT_EQ(bytes.left(2), QByteArray("\xB1\xC3"));
    EXPECT_EQ(fromCodePage(bytes), text);
    // Characters beyond GBK survive too.
    const QString rare = QStringLiteral("𠀀€");
    EXPECT_EQ(fromCodePage(toCodePage(rare)), rare);
}

TEST(XmlText, DeclaredEncodingIsFound)
{
    EXPECT_EQ(declaredXmlEncoding("<?xml version=\"1.0\" encoding=\"GB2312\"?><a/>"),
              QStringLiteral("GB2312"));
    EXPECT_EQ(declaredXmlEncoding("<?xml version='1.0' encoding='gbk' ?><a/>"),
              QStringLiteral("gbk"));
    EXPECT_EQ(declaredXmlEncoding("<?xml version=\"1.0\"?><a/>"), QStringLiteral("UTF-8"));
    EXPECT_EQ(declaredXmlEncoding("<a/>"), QStringLiteral("UTF-8"));
    EXPECT_EQ(declaredXmlEncoding("\xEF\xBB\xBF<a/>"), QStringLiteral("UTF-8"));
}

TEST(XmlText, UnencodableCharactersBecomeReferences)
{
    // "堃" is outside GB2312; "泵" is inside.
    const QString text = QStringLiteral("<a v=\"泵堃x😀\"/>");
    const QByteArray bytes = encodeXml(text, QStringLiteral("GB2312"));
    EXPECT_TRUE(bytes.contains("&#22531;"));
    EXPECT_TRUE(bytes.contains("&#128512;"));
    EXPECT_TRUE(bytes.contains("\xB1\xC3"));

    const QByteArray doc = "<?xml version=\"1.0\" encoding=\"GB2312\"?>" + bytes;
    const QDomDocument parsed = readXmlDocument(doc, QStringLiteral("test"));
    EXPECT_EQ(parsed.documentElement().attribute(QStringLiteral("v")),
              QStringLiteral("泵堃x😀"));
}

TEST(XmlText, SerializeUsesTheDeclaredEncoding)
{
    QDomDocument doc;
    doc.appendChild(doc.createProcessingInstruction(QStringLiteral("xml"),
                                                    QStringLiteral("version=\"1.0\" encoding=\"GB2312\"")));
    QDomElement root = doc.createElement(QStringLiteral("root"));
    root.setAttribute(QStringLiteral("Name"), QStringLiteral("流量堃"));
    doc.appendChild(root);
    const QByteArray bytes = writeXmlDocument(doc, {});
    EXPECT_FALSE(bytes.contains(QStringLiteral("流").toUtf8()));
    EXPECT_TRUE(bytes.contains("&#22531;"));
    const QDomDocument back = readXmlDocument(bytes, QStringLiteral("test"));
    EXPECT_EQ(back.documentElement().attribute(QStringLiteral("Name")), QStringLiteral("流量堃"));
}

TEST(XmlText, MalformedDocumentNamesLineAndColumn)
{
    try {
        readXmlDocument("<?xml version=\"1.0\"?>\n<root>\n  <a></b>\n</root>", QStringLiteral("p.flw"));
        FAIL() << "no error";
    } catch (const Error &e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("p.flw"))) << e.what();
        EXPECT_TRUE(e.message().contains(QStringLiteral("line 3"))) << e.what();
        EXPECT_TRUE(e.message().contains(QStringLiteral("column"))) << e.what();
    }
    EXPECT_THROW(readXmlDocument("<?xml version=\"1.0\" encoding=\"NO-SUCH\"?><a/>", QStringLiteral("x")),
                 Error);
}

TEST(XmlText, Gb2312LabelReadsGbkAndNamesABadByte)
{
    // "镕" (E946) is GBK, not GB2312; Windows tools still label such files GB2312.
    const QByteArray gbk = "<?xml version=\"1.0\" encoding=\"gb2312\"?>\n<a v=\"\xE9\x46\"/>";
    EXPECT_EQ(readXmlDocument(gbk, QStringLiteral("t")).documentElement().attribute("v"),
              QStringLiteral("镕"));

    const QByteArray bad = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<a v=\"x\xFF\"/>";
    try {
        readXmlDocument(bad, QStringLiteral("bad.flw"));
        FAIL() << "no error";
    } catch (const Error &e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("offset 46"))) << e.what();
        EXPECT_TRUE(e.message().contains(QStringLiteral("line 2"))) << e.what();
    }
}

TEST(XmlText, AttributesComeInTheGivenOrderThenByName)
{
    QDomDocument doc = newXmlDocument(QStringLiteral("UTF-8"));
    QDomElement e = doc.createElement(QStringLiteral("n"));
    for (const char *name : {"zeta", "Value", "alpha", "Name"})
        e.setAttribute(QString::fromLatin1(name), QStringLiteral("1"));
    doc.appendChild(e);
    const QByteArray out = writeXmlDocument(doc, {QStringLiteral("Name"), QStringLiteral("Value")});
    EXPECT_TRUE(out.contains("<n Name=\"1\" Value=\"1\" alpha=\"1\" zeta=\"1\"/>")) << out.data();
}

TEST(TextLines, EveryBreakKindEndsALineAndAFinalBreakAddsNone)
{
    EXPECT_EQ(splitTextLines(QString()), QStringList());
    EXPECT_EQ(splitTextLines(QStringLiteral("a\r\nb\rc\nd")),
              (QStringList{"a", "b", "c", "d"}));
    EXPECT_EQ(splitTextLines(QStringLiteral("泵\r\n")), QStringList{QStringLiteral("泵")});
    EXPECT_EQ(splitTextLines(QStringLiteral("\r\n\r\n")), (QStringList{"", ""}));
    EXPECT_EQ(splitTextLines(QStringLiteral("\n\r")), (QStringList{"", ""})); // LF then CR
}

// What a document declaring GB2312 is written as reads back as the same text, including the
// characters on which the GB2312 and GB18030 tables disagree: those become references.
TEST(XmlText, GbDocumentsReadBackAsWritten)
{
    const QString texts[] = {
        QStringLiteral("―"),  // U+2015: GB2312 writes A1AA, which GB18030 reads as U+2014
        QStringLiteral("—"),  // U+2014
        QStringLiteral("·・"), // U+00B7 and U+30FB
        QStringLiteral("〜～"), // U+301C and U+FF5E
        QStringLiteral("泵堃😀 a&b"),
    };
    for (const QString &encoding : {QStringLiteral("GB2312"), QStringLiteral("GBK")}) {
        for (const QString &text : texts) {
            QDomDocument doc = newXmlDocument(encoding);
            QDomElement e = doc.createElement(QStringLiteral("E"));
            e.setAttribute(QStringLiteral("v"), text);
            e.appendChild(doc.createTextNode(text));
            doc.appendChild(e);
            const QDomDocument back
                = readXmlDocument(writeXmlDocument(doc, {}), QStringLiteral("doc"));
            EXPECT_EQ(back.documentElement().attribute(QStringLiteral("v")).toStdString(),
                      text.toStdString())
                << encoding.toStdString();
            EXPECT_EQ(back.documentElement().text().toStdString(), text.toStdString());
        }
    }
}
