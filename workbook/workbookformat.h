#pragma once

// The workbook's place in a project document: the names of its element and attributes, and the
// byte-preserving splice of a freshly written workbook element into the document's bytes.

#include <QByteArray>
#include <QDomElement>
#include <QString>

#include <functional>

namespace tessarin {

inline constexpr char16_t WorkbookElementName[] = u"TqzExcel";
inline constexpr char16_t WorkbookPageElementName[] = u"TqzReport";
inline constexpr char16_t WorkbookTabsAttribute[] = u"ShowPages";
inline constexpr char16_t WorkbookPageTextAttribute[] = u"SaveText";
inline constexpr char16_t WorkbookOwnerIndexAttribute[] = u"OwnerIndex";

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
// Error prefixed with `where`. The document is checked before `write` is called.
QByteArray spliceWorkbookElement(const QByteArray &document,
                                 const WorkbookElementWriter &write,
                                 const QString &where);

} // namespace tessarin
