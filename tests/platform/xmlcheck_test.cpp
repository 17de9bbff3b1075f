// The checks every XML reader makes before parsing: characters XML cannot carry are named with
// their place, and elements with more attributes than any stored format has are refused.

#include "error.h"
#include "xmldocument.h"
#include "xmltree.h"

#include <QDomDocument>

#include <gtest/gtest.h>

#include <functional>

using namespace tessarin;

namespace {

QString attributes(int count, const QString &value = QStringLiteral("1"))
{
    QString out;
    for (int i = 0; i < count; ++i)
        out += QStringLiteral(" a%1=\"%2\"").arg(i).arg(value);
    return out;
}

// `depth` elements nested into each other, the innermost holding `inner`.
QString nested(int depth, const QString &inner = {})
{
    return QStringLiteral("<a>").repeated(depth) + inner + QStringLiteral("</a>").repeated(depth);
}

struct Case
{
    const char *what;
    QString text;
    QString error; // empty: the document reads
};

TEST(XmlCheck, NamesForbiddenCharactersAndBoundsAttributesButReadsEverythingElse)
{
    const QString head = QStringLiteral("<?xml version=\"1.0\"?>\n");
    const QString many = QString(300, QLatin1Char('='));
    const Case cases[] = {
        {"control in attribute",
         head
             + QStringLiteral("<P>\n<TRTL Name=\"a\x01"
                              "b\"/></P>"),
         QStringLiteral("doc: not a well-formed XML document: control character U+0001 at line "
                        "3, column 14 cannot appear in XML")},
        {"control in text",
         head + QStringLiteral("<P>ok\t\r\n\x1F</P>"),
         QStringLiteral("doc: not a well-formed XML document: control character U+001F at line "
                        "3, column 1 cannot appear in XML")},
        {"NUL in a comment",
         head + QStringLiteral("<P><!--") + QChar(0) + QStringLiteral("--></P>"),
         QStringLiteral("doc: not a well-formed XML document: control character U+0000 at line "
                        "2, column 8 cannot appear in XML")},
        {"noncharacter",
         head + QStringLiteral("<P>") + QChar(0xFFFE) + QStringLiteral("</P>"),
         QStringLiteral("doc: not a well-formed XML document: character U+FFFE at line 2, column "
                        "4 cannot appear in XML")},
        {"lone surrogate",
         head + QStringLiteral("<P>") + QChar(0xDC00) + QStringLiteral("x</P>"),
         QStringLiteral("doc: not a well-formed XML document: unpaired surrogate U+DC00 at line "
                        "2, column 4 cannot appear in XML")},
        {"surrogate pair and DEL", head + QStringLiteral("<P a=\"😀\x7F\">泵</P>"), {}},
        {"attributes at the bound",
         head + QStringLiteral("<P><E") + attributes(MaxXmlAttributes) + QStringLiteral("/></P>"),
         {}},
        {"attributes past the bound",
         head + QStringLiteral("<P>\n  <E") + attributes(MaxXmlAttributes + 1)
             + QStringLiteral("/></P>"),
         QStringLiteral("doc: element <E> at line 3, column 3 carries more than 256 attributes; "
                        "no document the program reads has that many")},
        // "=" and ">" inside values, comments, CDATA and processing instructions are not
        // attributes.
        {"signs inside values", head + QStringLiteral("<P a=\"%1\" b='>%1'>x</P>").arg(many), {}},
        {"signs in other markup",
         head + QStringLiteral("<P><!--%1--><![CDATA[%1]]><?pi %1?></P>").arg(many),
         {}},
        {"entity text holding many attributes",
         head
             + QStringLiteral("<!DOCTYPE P [<!ENTITY e '<E%1/>'>]><P>&e;</P>")
                   .arg(attributes(MaxXmlAttributes + 1)),
         QStringLiteral("doc: a literal in the declaration at line 2, column 1 carries more "
                        "than 256 attributes; no document the program reads has that many")},
        // Nesting: end tags and empty-element tags close their level; markup inside comments,
        // CDATA and values opens none.
        {"nesting at the bound", head + nested(MaxXmlDepth), {}},
        {"nesting past the bound",
         head + nested(MaxXmlDepth + 1),
         QStringLiteral("doc: element <a> at line 2, column 3001 is nested more than 1000 "
                        "levels deep; no document the program reads nests that deep")},
        {"closed levels do not add up",
         head + QStringLiteral("<P>") + nested(MaxXmlDepth - 1).repeated(3)
             + QStringLiteral("<b/>").repeated(2000) + QStringLiteral("</P>"),
         {}},
        {"tags in other markup",
         head
             + nested(MaxXmlDepth,
                      QStringLiteral("<!--<a><a>--><![CDATA[<a><a>]]><?pi <a>?><b c='a>'/>")),
         {}},
    };
    for (const Case &c : cases) {
        QString error;
        try {
            readXmlText(c.text, QStringLiteral("doc"));
        } catch (const Error &e) {
            error = e.message();
        }
        EXPECT_EQ(error.toStdString(), c.error.toStdString()) << c.what;
    }
}

// 200,000 attributes on one element, or 200,000 nested elements: refused at once rather than
// parsed in time growing with the square of their number.
TEST(XmlCheck, HugeAttributeListsAndDeepNestingAreRefusedBeforeParsing)
{
    const QByteArray doc
        = "<?xml version=\"1.0\"?>\n<P><TRTL" + attributes(200000).toLatin1() + "/></P>\n";
    EXPECT_THROW(readXmlDocument(doc, QStringLiteral("doc")), Error);
    EXPECT_THROW(readXmlDocument(nested(200000).toLatin1(), QStringLiteral("doc")), Error);
}

} // namespace

namespace {

// The element tree as one text: names, attributes, places and text flags, depth first.
QString shape(const XmlElement &e)
{
    QString out = QStringLiteral("<%1 @%2:%3%4")
                      .arg(e.name)
                      .arg(e.line)
                      .arg(e.column)
                      .arg(e.hasText ? "T" : "");
    for (const auto &[name, value] : e.attributes)
        out += QStringLiteral(" %1=%2").arg(name, value);
    for (const auto &child : e.children)
        out += shape(*child);
    return out + QLatin1Char('>');
}

QString outcome(const std::function<std::unique_ptr<XmlElement>()> &parse)
{
    try {
        return shape(*parse());
    } catch (const Error &e) {
        return QStringLiteral("error: ") + e.message();
    }
}

} // namespace

// A UTF-8 document is read from its own bytes, any other from its decoded text: both give the
// same tree, places and messages.
TEST(XmlTree, BytesAndDecodedTextReadAlike)
{
    const QByteArray documents[] = {
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<r a=\"1\">\n <n "
        "b=\"\xE6\xB5\x81\xE9\x87\x8F\" c='x &amp; y'/>\n text <m/></r>\n",
        "<?xml version=\"1.0\" encoding=\"utf-8\"?><r><n a=\"1\"></r>",
        "<r>\n<n a=\"1\" a=\"2\"/></r>",
        "<?xml version=\"1.0\"?>\n<r><!-- c --><![CDATA[ <x> ]]><n/></r>",
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<r>\xC3(</r>",
        "<r/><s/>",
        "",
    };
    for (const QByteArray &bytes : documents) {
        SCOPED_TRACE(bytes.toStdString());
        const QString fromBytes = outcome([&] { return parseXmlTree(bytes, "doc"); });
        const QString fromText
            = outcome([&] { return parseXmlTreeText(decodeXmlDocument(bytes, "doc"), "doc"); });
        EXPECT_EQ(fromBytes, fromText);
    }
}
