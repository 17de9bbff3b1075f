// tessarin-cli base64 encode|decode: standard input to standard output with the workbook's codec.

#include "command.h"

#include "atomicfile.h"
#include "base64.h"

using namespace tessarin;
using namespace tessarin::cli;

namespace {

int runBase64(const QCommandLineParser &parser)
{
    const QString direction = positional(parser, 1).first();
    if (direction != QLatin1String("encode") && direction != QLatin1String("decode"))
        throw UsageError(
            QStringLiteral("expected \"encode\" or \"decode\", got \"%1\"").arg(direction));
    // Everything is read and converted before the first byte is written, so a refused text
    // leaves standard output empty.
    const QByteArray input = readWholeFile(QStringLiteral("-"));
    if (direction == QLatin1String("encode")) {
        const QByteArray text = base64Encode(input);
        printRaw(text.isEmpty() ? text : text + '\n');
    } else {
        printRaw(base64Decode(input));
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
                           "skipped)"));
    },
    runBase64,
});

} // namespace
