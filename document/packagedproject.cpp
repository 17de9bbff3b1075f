#include "packagedproject.h"

#include "calcpack.h"
#include "dynlib.h"

namespace tessarin {

namespace {

size_t CALCPACK_CALL appendToArray(void *context, const char *data, size_t size)
{
    auto *bytes = static_cast<QByteArray *>(context);
    if (!data || size > size_t(INT32_MAX) - size_t(bytes->size()))
        return 0;
    bytes->append(data, qsizetype(size));
    return size;
}

} // namespace

QByteArray LoadPackagedProject(const QString &windowsName, QString *why)
{
    QByteArray stream;
    DynamicLibrary library;
    if (!library.load(windowsName)) {
        if (why)
            *why = library.errorString();
        return stream;
    }
    auto getFlw = reinterpret_cast<GetFLWProc>(library.resolve("GetFLW"));
    if (!getFlw) {
        if (why)
            *why = QStringLiteral("%1 has no entry GetFLW").arg(library.fileName());
        return stream;
    }
    TqzStreamWriter writer{&stream, &appendToArray};
    getFlw(&writer);
    return stream;
}

} // namespace tessarin
