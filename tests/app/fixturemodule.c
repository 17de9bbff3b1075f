/* A calculation module for the tests: GetFLW writes a fixture project, in pieces, as a module
   of another make might. */
#include "calcpack.h"

extern const unsigned char fixtureDocument[];
extern const size_t fixtureDocumentSize;

CALCPACK_EXPORT void CALCPACK_CALL GetFLW(TqzStreamWriter *stream)
{
    size_t done = 0;
    if (!stream || !stream->write)
        return;
    while (done < fixtureDocumentSize) {
        size_t piece = fixtureDocumentSize - done < 1000 ? fixtureDocumentSize - done : 1000;
        if (stream->write(stream->context, (const char *)fixtureDocument + done, piece) != piece)
            return;
        done += piece;
    }
}
