#pragma once

// The model's XML documents: the platform's reader and writer, with the attribute order of the
// stored project and test-data formats.

#include "xmldocument.h"

namespace tessarin {

// The document as bytes in its declared encoding, attributes in the order the stored formats
// list them ("Name", "NodeID", "ParentID", "Caption", "Script", "Value", "Unit", "Author",
// "CreateTime", "Remark", "LibraryPath", "FileName", "StdLib"), then any others by name.
QByteArray writeXmlDocument(const QDomDocument &doc);

// The attribute order above, for writing single elements (writeXmlElement).
const QStringList &modelAttributeOrder();

} // namespace tessarin
