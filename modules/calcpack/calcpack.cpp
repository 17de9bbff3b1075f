// The calculation module: GetFLW hands out the packaged pump project, generated at build time
// from pump.tree and pump.pages.
#include "calcpack.h"

extern const unsigned char kPackagedDocument[];
extern const size_t kPackagedDocumentSize;

extern "C" CALCPACK_EXPORT void CALCPACK_CALL GetFLW(TqzStreamWriter *stream)
{
    if (!stream || !stream->write)
        return;
    // Written in pieces so that a caller's stream may take the document bit by bit; a short
    // write means the stream is full or failed, and writing stops there.
    constexpr size_t kPiece = 64 * 1024;
    size_t done = 0;
    while (done < kPackagedDocumentSize) {
        const size_t want
            = kPackagedDocumentSize - done < kPiece ? kPackagedDocumentSize - done : kPiece;
        const size_t taken = stream->write(
            stream->context, reinterpret_cast<const char *>(kPackagedDocument) + done, want);
        if (taken != want)
            return;
        done += taken;
    }
}
