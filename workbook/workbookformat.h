#pragma once

// The workbook's place in a project document: the names of its element and attributes, and the
// byte-preserving splice of a freshly written workbook element into the document's bytes.

#include "error.h"

#include <QByteArray>
#include <QDomElement>
#include <QString>
#include <QStringList>

#include <functional>

namespace tessarin {

inline constexpr char16_t WorkbookElementName[] = u"TqzExcel";
inline constexpr char16_t WorkbookPageElementName[] = u"TqzReport";
inline constexpr char16_t WorkbookTabsAttribute[] = u"ShowPages";
inline constexpr char16_t WorkbookPageTextAttribute[] = u"SaveText";
inline constexpr char16_t WorkbookOwnerIndexAttribute[] = u"OwnerIndex";

// Runs `work` for the page at `index` (0-based); an Error it throws is passed on prefixed with
// the page's number.
template<class Work>
auto onPage(qsizetype index, Work &&work)
{
    try {
        return work();
    } catch (const Error &e) {
        throw Error(QStringLiteral("page %1: %2").arg(index + 1).arg(e.message()));
    }
}

// Fills the (empty) workbook element it is given; it may throw Error to refuse.
using WorkbookElementWriter = std::function<void(QDomElement &element)>;

// The project document `document` with its first "TqzExcel" child of the document element
// replaced by the element `write` fills (appended on a line of its own before the end tag of
// the document element when there is none), as bytes in the document's declared encoding.
// Every byte outside the replaced range stays as it was read: other elements, attribute order,
// comments, white space and line ends. A project document's element holds "TRTL",
// "TVariables", "TProcess" or "TqzExcel" children, or nothing at all (a new, empty project);
// any other document (an HTML page, another program's XML), a document that is not
// well-formed, and one whose workbook element an entity reference brings in are refused with
// Error prefixed with `where`. The document, and the place the element goes, are checked before
// `write` is called.
QByteArray spliceWorkbookElement(const QByteArray &document,
                                 const WorkbookElementWriter &write,
                                 const QString &where);
// The same for any child `elementName` of a project document's element, its attributes written
// in `attributeOrder` (others after them).
QByteArray spliceProjectElement(const QByteArray &document,
                                const QString &elementName,
                                const WorkbookElementWriter &write,
                                const QStringList &attributeOrder,
                                const QString &where);

// The same with the new element given as text (as writeXmlTreeElement writes one at depth 0):
// `render` is called once the document has been found sound.
QByteArray spliceProjectElementText(const QByteArray &document,
                                    const QString &elementName,
                                    const std::function<QString()> &render,
                                    const QString &where);

} // namespace tessarin

#include "qzreportpage.h"

#include <QList>
#include <QStringList>

#include <memory>
#include <optional>
#include <vector>

namespace tessarin {

struct XmlElement;

// One page as read from a workbook element, with the stored text it could not read (kept to be
// written back unchanged) when it was loaded empty for that reason.
struct WorkbookPageRead
{
    std::unique_ptr<TqzReportPage> page;
    std::optional<QString> unreadText;
};

// A workbook element read completely, before anything of a workbook changes.
struct WorkbookRead
{
    std::optional<QStringList> names; // the tab names, when "ShowPages" is present
    std::vector<WorkbookPageRead> pages;
    // What went wrong per page, each naming the page (1-based) and the line of its element.
    QStringList errors;
};

// Reads the tab names and one page per child element, in order, whatever its name; pages are
// made with `setup` and take `ownerIndex` unless their element gives one. An "OwnerIndex" that
// is not a decimal integer throws Error naming the page. A page whose "SaveText" cannot be
// decoded or does not hold a sound page stream is read empty and reported in `errors`.
WorkbookRead
readWorkbookElement(const QDomElement &element, const PageSetup &setup, int ownerIndex);
WorkbookRead readWorkbookElement(const XmlElement &element, const PageSetup &setup, int ownerIndex);

// Writes "ShowPages" and one "TqzReport" child per page (its Base64 text and its OwnerIndex),
// replacing the element's children. `unreadTexts` runs beside `pages` (it may be shorter): a
// page that is still empty and has an unread text is written with that text. Every page is
// written out first, so an error (naming the page) leaves the element untouched.
void writeWorkbookElement(QDomElement &element,
                          const QStringList &names,
                          const QList<const TqzReportPage *> &pages,
                          const QList<std::optional<QString>> &unreadTexts);

} // namespace tessarin
