#include "qzobject.h"

#include "atomicfile.h"
#include "programdir.h"
#include "xmlio.h"

#include <QDateTime>
#include <QLocale>
#include <QRegularExpression>

namespace tessarin {

namespace {

void readText(const QDomElement &element, const QString &name, QString &field)
{
    if (element.hasAttribute(name))
        field = element.attribute(name);
}

// The long time format of the system without a time-zone field, as a clock on a data sheet
// shows it.
QString longTimeFormat()
{
    QString format = QLocale::system().timeFormat(QLocale::LongFormat);
    static const QRegularExpression zone(QStringLiteral("\\s*\\bt+\\b\\s*"));
    format.replace(zone, QStringLiteral(" "));
    return format.trimmed();
}

} // namespace

// TqzObject ------------------------------------------------------------------------------------

void TqzObject::SaveToXML(QDomElement &) {}

void TqzObject::LoadFromXML(const QDomElement &) {}

// TqzProperty ----------------------------------------------------------------------------------

void TqzProperty::SaveToXML(QDomElement &element)
{
    element.setAttribute(QStringLiteral("Name"), Name);
    element.setAttribute(QStringLiteral("Caption"), Caption);
    element.setAttribute(QStringLiteral("Value"), Value);
}

void TqzProperty::LoadFromXML(const QDomElement &element)
{
    readText(element, QStringLiteral("Name"), Name);
    readText(element, QStringLiteral("Caption"), Caption);
    readText(element, QStringLiteral("Value"), Value);
}

// TqzNode --------------------------------------------------------------------------------------

TqzNode::~TqzNode()
{
    ClearProperties();
}

void TqzNode::ClearProperties()
{
    Properties.clear();
}

void TqzNode::SaveToXML(QDomElement &element)
{
    element.setAttribute(QStringLiteral("Name"), Name);
    element.setAttribute(QStringLiteral("NodeID"), QString::number(NodeID));
    element.setAttribute(QStringLiteral("ParentID"), QString::number(ParentID));
    element.setAttribute(QStringLiteral("Caption"), Caption);
    element.setAttribute(QStringLiteral("Script"), Script);
    element.setAttribute(QStringLiteral("Value"), Value);
    element.setAttribute(QStringLiteral("Unit"), Unit);
    QDomDocument doc = element.ownerDocument();
    for (const auto &property : Properties) {
        QDomElement child = doc.createElement(QStringLiteral("TProperty"));
        element.appendChild(child);
        property->SaveToXML(child);
    }
}

void TqzNode::LoadFromXML(const QDomElement &element)
{
    // Convert first so that a bad number leaves the node untouched.
    const qint32 nodeId = element.hasAttribute(QStringLiteral("NodeID"))
                              ? intAttribute(element, QStringLiteral("NodeID"))
                              : NodeID;
    const qint32 parentId = element.hasAttribute(QStringLiteral("ParentID"))
                                ? intAttribute(element, QStringLiteral("ParentID"))
                                : ParentID;
    NodeID = nodeId;
    ParentID = parentId;
    readText(element, QStringLiteral("Name"), Name);
    readText(element, QStringLiteral("Caption"), Caption);
    readText(element, QStringLiteral("Script"), Script);
    readText(element, QStringLiteral("Value"), Value);
    readText(element, QStringLiteral("Unit"), Unit);

    // The four-children form: each child's "Value" overrides one text, in this order.
    QString *const fields[] = {&Caption, &Value, &Unit, &Script};
    QDomElement child = element.firstChildElement();
    for (QString *field : fields) {
        if (child.isNull())
            break;
        *field = child.attribute(QStringLiteral("Value"));
        child = child.nextSiblingElement();
    }
}

// TqzNodeData ----------------------------------------------------------------------------------

TqzNodeData::TqzNodeData(const QString &name, const QString &value)
    : Name(name)
    , Value(value)
{}

void TqzNodeData::SaveToXML(QDomElement &element)
{
    element.setAttribute(QStringLiteral("Name"), Name);
    element.setAttribute(QStringLiteral("Value"), Value);
}

void TqzNodeData::LoadFromXML(const QDomElement &element)
{
    readText(element, QStringLiteral("Name"), Name);
    readText(element, QStringLiteral("Value"), Value);
}

// TqzRunTimeLibrary ----------------------------------------------------------------------------

TqzRunTimeLibrary::TqzRunTimeLibrary()
    : LibraryPath(programDirectory() + QStringLiteral("/include//"))
    , FileName(QStringLiteral("project.h"))
{}

void TqzRunTimeLibrary::SaveToXML(QDomElement &element)
{
    element.setAttribute(QStringLiteral("LibraryPath"), LibraryPath);
    element.setAttribute(QStringLiteral("FileName"), FileName);
    element.setAttribute(QStringLiteral("StdLib"), StdLib ? QStringLiteral("1")
                                                          : QStringLiteral("0"));
    // Saving twice into one element must not double the headers on the next load.
    for (QDomElement old = element.firstChildElement(QStringLiteral("THeader")); !old.isNull();) {
        const QDomElement next = old.nextSiblingElement(QStringLiteral("THeader"));
        element.removeChild(old);
        old = next;
    }
    QDomDocument doc = element.ownerDocument();
    for (const QString &header : Headers) {
        QDomElement child = doc.createElement(QStringLiteral("THeader"));
        child.setAttribute(QStringLiteral("Name"), header);
        element.appendChild(child);
    }
}

void TqzRunTimeLibrary::LoadFromXML(const QDomElement &element)
{
    readText(element, QStringLiteral("LibraryPath"), LibraryPath);
    readText(element, QStringLiteral("FileName"), FileName);
    if (element.hasAttribute(QStringLiteral("StdLib")))
        StdLib = element.attribute(QStringLiteral("StdLib")) == QLatin1String("1");
    Headers.clear();
    for (QDomElement child = element.firstChildElement(); !child.isNull();
         child = child.nextSiblingElement())
        Headers.append(child.attribute(QStringLiteral("Name")));
}

// TqzExamData ----------------------------------------------------------------------------------

TqzExamData::TqzExamData()
    : Name(QStringLiteral("测试用例"))
    , Author(QStringLiteral("Tessarin"))
{
    const QDateTime now = QDateTime::currentDateTime();
    const QLocale locale = QLocale::system();
    CreateTime = locale.toString(now.date(), QLocale::ShortFormat) + QStringLiteral(" - ")
                 + locale.toString(now.time(), longTimeFormat());
}

TqzExamData::~TqzExamData()
{
    ClearNodeDatas();
}

void TqzExamData::AddNodeData(const QString &name, const QString &value)
{
    for (const auto &entry : NodeDatas)
        if (entry->Name == name)
            return;
    NodeDatas.push_back(std::make_unique<TqzNodeData>(name, value));
}

void TqzExamData::Add(std::unique_ptr<TqzNodeData> entry)
{
    if (entry)
        NodeDatas.push_back(std::move(entry));
}

void TqzExamData::ClearNodeDatas()
{
    NodeDatas.clear();
}

void TqzExamData::SaveToXML(QDomElement &element)
{
    element.setAttribute(QStringLiteral("Name"), Name);
    element.setAttribute(QStringLiteral("Author"), Author);
    element.setAttribute(QStringLiteral("CreateTime"), CreateTime);
    element.setAttribute(QStringLiteral("Remark"), Remark);
    QDomDocument doc = element.ownerDocument();
    for (const auto &entry : NodeDatas) {
        QDomElement child = doc.createElement(QStringLiteral("TNodeData"));
        element.appendChild(child);
        entry->SaveToXML(child);
    }
}

void TqzExamData::LoadFromXML(const QDomElement &element)
{
    readText(element, QStringLiteral("Name"), Name);
    readText(element, QStringLiteral("Author"), Author);
    readText(element, QStringLiteral("CreateTime"), CreateTime);
    readText(element, QStringLiteral("Remark"), Remark);
    ClearNodeDatas();
    for (QDomElement child = element.firstChildElement(); !child.isNull();
         child = child.nextSiblingElement()) {
        auto entry = std::make_unique<TqzNodeData>();
        entry->LoadFromXML(child);
        Add(std::move(entry));
    }
}

QByteArray ExamDataToBytes(TqzExamData &set)
{
    QDomDocument doc = newXmlDocument(QStringLiteral("GB2312"));
    QDomElement root = doc.createElement(QStringLiteral("root"));
    doc.appendChild(root);
    set.SaveToXML(root);
    return writeXmlDocument(doc);
}

void SaveExamDataToFile(TqzExamData &set, const QString &fileName)
{
    writeFileAtomically(fileName, ExamDataToBytes(set));
}

} // namespace tessarin
