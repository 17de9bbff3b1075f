#pragma once
// The calling convention of a calculation module (calcpack.dll / libcalcpack.so): one C entry,
// GetFLW, that writes the packaged project (one XML document in the project-file layout: the
// project part and the "TqzExcel" workbook element) into a stream the caller owns.
//
// Only C types cross the boundary, so a module built by another compiler, or a replacement
// module, works with any program of this family. The module keeps no state between calls and
// does not hold on to the stream after GetFLW returns.
#include <stddef.h>

#if defined(_WIN32) && !defined(_WIN64)
#define CALCPACK_CALL __stdcall
#else
#define CALCPACK_CALL
#endif

#if defined(_WIN32)
#define CALCPACK_EXPORT __declspec(dllexport)
#else
#define CALCPACK_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

// The caller's memory stream. `write` appends `size` bytes from `data` to the stream and
// returns the number of bytes taken (less than `size` only when the stream is full or failed,
// after which the module stops writing). `context` is handed back unchanged to `write`.
typedef struct TqzStreamWriter
{
    void *context;
    size_t(CALCPACK_CALL *write)(void *context, const char *data, size_t size);
} TqzStreamWriter;

// Writes the packaged project into `stream`. A null stream or a null `write` is ignored.
typedef void(CALCPACK_CALL *GetFLWProc)(TqzStreamWriter *stream);

#ifdef __cplusplus
}
#endif
