#pragma once

// The cell font as the 60-byte LOGFONT record kept in page streams, and its conversion to QFont.

#include <QByteArray>
#include <QFont>
#include <QString>

#include <cstdint>
#include <functional>

namespace tessarin {

// Field for field the Windows LOGFONTA record: five little-endian 32-bit integers, eight bytes
// and a NUL-padded face name in the 8-bit code page. A negative lfHeight is the character
// height in pixels, a positive one the cell height (character plus internal leading).
struct LOGFONT
{
    std::int32_t lfHeight = 0;
    std::int32_t lfWidth = 0;
    std::int32_t lfEscapement = 0;
    std::int32_t lfOrientation = 0;
    std::int32_t lfWeight = 0;
    std::uint8_t lfItalic = 0;
    std::uint8_t lfUnderline = 0;
    std::uint8_t lfStrikeOut = 0;
    std::uint8_t lfCharSet = 0;
    std::uint8_t lfOutPrecision = 0;
    std::uint8_t lfClipPrecision = 0;
    std::uint8_t lfQuality = 0;
    std::uint8_t lfPitchAndFamily = 0;
    char lfFaceName[32] = {};

    // The face name decoded from the code page (up to its first NUL).
    QString faceName() const;
    // Stores `face` in the code page, cut at a character boundary so that a NUL always fits.
    void setFaceName(const QString &face);

    // The record byte for byte (60 bytes, little-endian integers).
    QByteArray toBytes() const;
    // Reads 60 bytes starting at `data`; the caller guarantees they exist.
    static LOGFONT fromBytes(const char *data);

    bool operator==(const LOGFONT &) const = default;
};

inline constexpr int LogFontSize = 60;
inline constexpr std::uint8_t DEFAULT_CHARSET = 1;

// Pixels per inch of the screen that page pixels and cell fonts are measured at: the answer of
// the source set by setScreenDpiSource, or without one the primary screen's logical resolution
// (96 without a screen).
int screenDpi(bool horizontal);
// Replaces the source screenDpi asks (the printer layer installs itself); an empty function
// restores the primary screen.
void setScreenDpiSource(std::function<int(bool horizontal)> source);
// The primary screen's logical resolution rounded to whole pixels, 96 without a screen.
int primaryScreenDpi(bool horizontal);

// The font of a new cell: "宋体", DEFAULT_CHARSET, weight 0, and the height of 12 points at the
// screen's vertical resolution stored as a negative pixel height (-16 at 96 dots per inch).
LOGFONT defaultCellFont();

// The QFont that draws `font` at screen pixel sizes. Weight 0 means normal; the escapement is
// not applied (cells draw horizontal text).
QFont fontFromLogFont(const LOGFONT &font);

// The record describing `font` (pixel height negative, face name, weight, style flags).
LOGFONT logFontFromFont(const QFont &font);

} // namespace tessarin
