// tessarin-cli base64 encode|decode: standard input to standard output with the workbook's codec,
// a piece at a time, so any length of input runs in a few megabytes.

#include "command.h"

#include "base64.h"
#include "error.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

using namespace tessarin;
using namespace tessarin::cli;

namespace {

// Fills `buffer` from standard input as far as it goes; fewer bytes only at the end.
qsizetype readPiece(std::vector<char> &buffer)
{
    size_t filled = 0;
    while (filled < buffer.size()) {
        const size_t got = std::fread(buffer.data() + filled, 1, buffer.size() - filled, stdin);
        filled += got;
        if (got == 0) {
            if (std::ferror(stdin))
                throw Error(QStringLiteral("cannot read standard input: %1")
                                .arg(QString::fromLocal8Bit(std::strerror(errno))));
            break;
        }
    }
    return static_cast<qsizetype>(filled);
}

void writePiece(const QByteArray &bytes)
{
    printRaw(bytes);
    if (std::ferror(stdout))
        throw Error(QStringLiteral("cannot write standard output: %1")
                        .arg(QString::fromLocal8Bit(std::strerror(errno))));
}

int runBase64(const QCommandLineParser &parser)
{
    const QString direction = positional(parser, 1).first();
    if (direction != QLatin1String("encode") && direction != QLatin1String("decode"))
        throw UsageError(
            QStringLiteral("expected \"encode\" or \"decode\", got \"%1\"").arg(direction));
    // A multiple of 3 bytes (and of 4 characters): every full piece encodes without padding.
    std::vector<char> buffer(size_t(3) << 20);
    QByteArray out;
    if (direction == QLatin1String("encode")) {
        bool any = false;
        for (qsizetype got; (got = readPiece(buffer)) > 0;) {
            base64EncodeInto(QByteArrayView(buffer.data(), got), out);
            writePiece(out);
            any = true;
        }
        if (any)
            writePiece(QByteArrayLiteral("\n"));
    } else {
        Base64StreamDecoder decoder;
        for (qsizetype got; (got = readPiece(buffer)) > 0;) {
            out.clear();
            decoder.decode(QByteArrayView(buffer.data(), got), out);
            writePiece(out);
        }
        decoder.finish();
    }
    return 0;
}

const bool registered = registerCommand({
    QStringLiteral("base64"),
    QStringLiteral("Base64 of standard input to standard output (encode or decode)"),
    [](QCommandLineParser &parser) {
        parser.addPositionalArgument(
            QStringLiteral("direction"),
            QStringLiteral("encode: bytes to one line of text; decode: text to bytes (line "
                           "breaks, blanks and other characters outside the alphabet are "
                           "skipped). Both stream: a text refused while decoding ends the "
                           "command with status 1 after the bytes of the groups before the "
                           "fault."));
    },
    runBase64,
});

} // namespace
