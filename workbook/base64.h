#pragma once

// Base64 codec of the workbook: turns page-stream bytes into attribute text and back, with a
// decoder that skips line breaks, blanks and other characters outside the alphabet.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QtGlobal>

class QIODevice;

namespace tessarin {

// Standard alphabet ("A-Z a-z 0-9 + /") with "=" padding, no line breaks in the output.
//
// Decoding rules: every character that is neither in the alphabet nor "=" is skipped wherever
// it stands; the remaining characters form groups of four, and a "=" ends only its own group,
// so concatenated texts decode to the concatenation of their bytes. A group is refused with
// tessarin::Error (naming the 0-based character offset) when "=" stands in its first or second
// place, when an alphabet character follows a "=" in its third place, or when the text ends
// before the last group has four characters. Nothing is returned or written on refusal.

// Plain API: bytes in, bytes out.
QByteArray base64Encode(QByteArrayView bytes);
QByteArray base64Decode(QByteArrayView text);
// base64Encode into `text`, reusing its storage when it is large enough (for callers that
// encode many pages in a row).
void base64EncodeInto(QByteArrayView bytes, QByteArray &text);

// The exact number of characters base64Encode writes for `byteCount` bytes.
qsizetype base64EncodedSize(qsizetype byteCount);

// The whole byte string as Base64 text (Latin-1 characters only).
QString EncodeBase64Text(QByteArrayView Bytes);

// The bytes held by a Base64 text. Characters above U+00FF are skipped like any other
// character outside the alphabet; error offsets count UTF-16 code units of `Text`.
QByteArray DecodeBase64Text(const QString &Text);

// Reads `Source` from its current position to its end and writes the decoded bytes to `Target`.
// The whole source is checked before anything is written, so a refused text leaves `Target`
// untouched. Error offsets count bytes from the position the source was read from.
void DecodeBase64Stream(QIODevice &Source, QIODevice &Target);

// Decodes a Base64 text that arrives in pieces (standard input, a socket) with the rules of
// base64Decode, holding no more than a group's worth of it between pieces: a group may
// straddle pieces, and error offsets count characters from the start of the whole text. A
// refusal stops the decoding; the bytes of the groups before it have been handed out.
class Base64StreamDecoder
{
public:
    // Appends to `out` the bytes of every group completed by `text`.
    void decode(QByteArrayView text, QByteArray &out);
    // Ends the text: refuses it when it stopped inside a group.
    void finish();

private:
    char m_group[4] = {};
    qsizetype m_offsets[4] = {};
    int m_pending = 0;        // significant characters of the open group
    qsizetype m_consumed = 0; // characters handed in so far
};

// One group: `Value` = b0 + b1 * 256 + b2 * 65536 with `Count` (1, 2 or 3) real bytes; the
// missing bytes are ignored. Writes exactly four characters to `Out`, "=" for missing bytes.
void EncodeGroup(quint32 Value, int Count, char *Out);

// Decodes the four characters at `Chars` into b0 + b1 * 256 + b2 * 65536 and sets `Count` to
// the number of real bytes (the unused high bytes of the result are 0). Throws Error for a
// character outside the alphabet or a misplaced "=".
quint32 DecodeGroup(const char *Chars, int &Count);

} // namespace tessarin
