// A calculation module for the installation check: a GetFLW that writes a one-page empty project.

#include "calcpack.h"

#include <cstring>

extern "C" CALCPACK_EXPORT void CALCPACK_CALL GetFLW(TqzStreamWriter *stream)
{
    if (!stream || !stream->write)
        return;
    const char *document = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<root/>\n";
    stream->write(stream->context, document, std::strlen(document));
}
