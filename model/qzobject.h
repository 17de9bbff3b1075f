#pragma once

// The persistent objects of the project model: calculation nodes, their name/value pairs, the
// runtime-library description and test-data sets, each reading and writing its own XML element.

#include <QDomElement>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

namespace tessarin {

// Base of every persistent model object. The owner of an object provides the element; the
// object fills it (attributes, child elements) or reads itself from it. Both base versions do
// nothing. The two operations are declared first so that they hold the first two slots of the
// virtual table, SaveToXML before LoadFromXML; the destructor follows them.
class TqzObject
{
public:
    virtual void SaveToXML(QDomElement &element);
    // Throws tessarin::Error when the element holds a value that cannot be converted; the
    // object is then left as it was.
    virtual void LoadFromXML(const QDomElement &element);

    TqzObject() = default;
    virtual ~TqzObject() = default;
    TqzObject(const TqzObject &) = default;
    TqzObject &operator=(const TqzObject &) = default;
};

// An extra item of a node, stored as a "TProperty" child of the node element. Nothing in the
// program creates one; it exists so that such children of stored nodes have a home.
class TqzProperty : public TqzObject
{
public:
    QString Name;
    QString Caption;
    QString Value;

    // Writes "Name", "Caption", "Value"; reads each only if present.
    void SaveToXML(QDomElement &element) override;
    void LoadFromXML(const QDomElement &element) override;
};

// One calculation node: the word formulas use for it (Name), its code (Caption), its formula
// (Script, empty for an input), its current value as decimal text, and its unit.
// NodeID/ParentID only mean something while a stored node list is read or written; in between
// the project tree carries the structure.
class TqzNode : public TqzObject
{
public:
    TqzNode() = default;
    ~TqzNode() override;
    TqzNode(const TqzNode &) = delete;
    TqzNode &operator=(const TqzNode &) = delete;

    std::vector<std::unique_ptr<TqzProperty>> Properties;
    qint32 NodeID = 0;
    qint32 ParentID = 0;
    QString Name;
    QString Caption;
    QString Script;
    QString Value;
    QString Unit;
    // A note on the node for whoever reads the calculation; stored as "Remark" only when set.
    QString Remark;

    // Writes all seven attributes ("Name", "NodeID", "ParentID", "Caption", "Script", "Value",
    // "Unit"; empty texts too), "Remark" when it is not empty, then one "TProperty" child per
    // property.
    void SaveToXML(QDomElement &element) override;

    // Reads each attribute that is present (a missing one leaves the field unchanged). Then the
    // element's first four child elements, whatever their names, override the texts from their
    // "Value" attribute (missing = empty): Caption, Value, Unit, Script in that order.
    // A "NodeID"/"ParentID" that is not a 32-bit decimal integer throws Error naming the
    // attribute, its text and the element's line; the node is then unchanged.
    void LoadFromXML(const QDomElement &element) override;

    void ClearProperties();
};

// A name/value pair: one entry of a test-data set.
class TqzNodeData : public TqzObject
{
public:
    TqzNodeData() = default;
    TqzNodeData(const QString &name, const QString &value);

    QString Name;
    QString Value;

    // "Name" then "Value"; reading takes each only if present.
    void SaveToXML(QDomElement &element) override;
    void LoadFromXML(const QDomElement &element) override;
};

// What the formulas of a project are written against: header names, the library path, the
// header file and whether the standard library is used. Stored as the "TRTL" element.
class TqzRunTimeLibrary : public TqzObject
{
public:
    // LibraryPath defaults to "<program directory>/include//", FileName to "project.h".
    TqzRunTimeLibrary();

    QStringList Headers;
    QString LibraryPath;
    QString FileName;
    bool StdLib = true;

    // Sets "LibraryPath", "FileName", "StdLib" ("1"/"0"); replaces the element's "THeader"
    // children by one per header (other children are kept).
    void SaveToXML(QDomElement &element) override;

    // Reads the three attributes that are present ("StdLib" is true exactly for "1"), then
    // Headers becomes the "Name" texts of all child elements in document order, whatever their
    // element names (a child without "Name" gives an empty header).
    void LoadFromXML(const QDomElement &element) override;
};

// A named snapshot of node values: one entry per node name, with title, author, creation time
// and remark. Stored as a "root" element of a .exm file (see SaveExamDataToFile).
class TqzExamData : public TqzObject
{
public:
    // Name "测试用例", Author "Tessarin", CreateTime now (short date " - " long time, system
    // locale), Remark empty, no entries.
    TqzExamData();
    ~TqzExamData() override;
    TqzExamData(const TqzExamData &) = delete;
    TqzExamData &operator=(const TqzExamData &) = delete;

    QString Name;
    QString Author;
    QString CreateTime;
    QString Remark;
    std::vector<std::unique_ptr<TqzNodeData>> NodeDatas;

    // Appends (name, value) unless an entry of exactly that name (case-sensitive) exists: the
    // first value recorded for a name wins.
    void AddNodeData(const QString &name, const QString &value);
    // Appends without any check; the set takes ownership. A null entry is ignored.
    void Add(std::unique_ptr<TqzNodeData> entry);
    void ClearNodeDatas();

    // Writes "Name", "Author", "CreateTime", "Remark" (always), then one "TNodeData" child per
    // entry in list order.
    void SaveToXML(QDomElement &element) override;
    // Reads the four texts that are present, then replaces all entries by one per child element
    // in document order, whatever its name (repetitions kept).
    void LoadFromXML(const QDomElement &element) override;
};

// Writes the set as an XML document (version "1.0", encoding "GB2312", document element
// "root") to fileName, replacing an existing file atomically. A character GB2312 cannot hold is
// written as a character reference. Throws Error when the file cannot be written.
void SaveExamDataToFile(TqzExamData &set, const QString &fileName);

// The .exm document bytes SaveExamDataToFile writes.
QByteArray ExamDataToBytes(TqzExamData &set);

} // namespace tessarin
