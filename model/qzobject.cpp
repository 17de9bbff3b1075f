#include "qzobject.h"

#include "atomicfile.h"
#include "modelread.h"
#include "modelwrite.h"
#include "programdir.h"
#include "xmlio.h"

#include <QDateTime>
#include <QLocale>
#include <QRegularExpression>

namespace tessarin {

namespace {

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
    writeProperty(*this, element);
}

void TqzProperty::LoadFromXML(const QDomElement &element)
{
    readAttribute(element, QStringLiteral("Name"), Name);
    readAttribute(element, QStringLiteral("Caption"), Caption);
    readAttribute(element, QStringLiteral("Value"), Value);
}

// TqzNode --------------------------------------------------------------------------------------

TqzNode::~TqzNode() = default;

void TqzNode::ClearProperties()
{
    Properties.clear();
}

void TqzNode::SaveToXML(QDomElement &element)
{
    writeNode(*this, element);
}

void TqzNode::LoadFromXML(const QDomElement &element)
{
    readNode(*this, element);
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
    readAttribute(element, QStringLiteral("Name"), Name);
    readAttribute(element, QStringLiteral("Value"), Value);
}

// TqzRunTimeLibrary ----------------------------------------------------------------------------

TqzRunTimeLibrary::TqzRunTimeLibrary()
    : LibraryPath(programDirectory() + QStringLiteral("/include//"))
    , FileName(QStringLiteral("project.h"))
{}

void TqzRunTimeLibrary::SaveToXML(QDomElement &element)
{
    writeRunTimeLibrary(*this, element);
}

void TqzRunTimeLibrary::LoadFromXML(const QDomElement &element)
{
    readRunTimeLibrary(*this, element);
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

TqzExamData::~TqzExamData() = default;

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
    for (const auto &entry : NodeDatas) {
        QDomElement child = appendChildElement(element, QStringLiteral("TNodeData"));
        entry->SaveToXML(child);
    }
}

void TqzExamData::LoadFromXML(const QDomElement &element)
{
    readAttribute(element, QStringLiteral("Name"), Name);
    readAttribute(element, QStringLiteral("Author"), Author);
    readAttribute(element, QStringLiteral("CreateTime"), CreateTime);
    readAttribute(element, QStringLiteral("Remark"), Remark);
    ClearNodeDatas();
    forEachChildElement(element, [this](const QDomElement &child) {
        auto entry = std::make_unique<TqzNodeData>();
        entry->LoadFromXML(child);
        Add(std::move(entry));
    });
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
