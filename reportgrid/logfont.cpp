#include "logfont.h"

#include "textcodec.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QScreen>
#include <QtEndian>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace tessarin {

namespace {

std::function<int(bool)> &dpiSource()
{
    static std::function<int(bool)> source;
    return source;
}

} // namespace

int primaryScreenDpi(bool horizontal)
{
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        const qreal dpi
            = horizontal ? screen->logicalDotsPerInchX() : screen->logicalDotsPerInchY();
        if (dpi > 0)
            return static_cast<int>(dpi + 0.5);
    }
    return 96;
}

int screenDpi(bool horizontal)
{
    const auto &source = dpiSource();
    return source ? source(horizontal) : primaryScreenDpi(horizontal);
}

void setScreenDpiSource(std::function<int(bool horizontal)> source)
{
    dpiSource() = std::move(source);
}

QString LOGFONT::faceName() const
{
    const auto end = static_cast<const char *>(std::memchr(lfFaceName, 0, sizeof lfFaceName));
    const qsizetype length = end ? end - lfFaceName : qsizetype(sizeof lfFaceName);
    return fromCodePage(QByteArrayView(lfFaceName, length));
}

void LOGFONT::setFaceName(const QString &face)
{
    std::memset(lfFaceName, 0, sizeof lfFaceName);
    // Drop whole characters from the end until the bytes leave room for the NUL, so that a
    // multi-byte character is never cut in half.
    QString kept = face;
    QByteArray bytes = toCodePage(kept);
    while (bytes.size() > qsizetype(sizeof lfFaceName) - 1) {
        kept.chop(kept.size() >= 2 && kept.at(kept.size() - 1).isLowSurrogate() ? 2 : 1);
        bytes = toCodePage(kept);
    }
    std::memcpy(lfFaceName, bytes.constData(), size_t(bytes.size()));
}

QByteArray LOGFONT::toBytes() const
{
    QByteArray out(LogFontSize, '\0');
    char *p = out.data();
    for (std::int32_t v : {lfHeight, lfWidth, lfEscapement, lfOrientation, lfWeight}) {
        qToLittleEndian<std::int32_t>(v, p);
        p += 4;
    }
    for (std::uint8_t b : {lfItalic,
                           lfUnderline,
                           lfStrikeOut,
                           lfCharSet,
                           lfOutPrecision,
                           lfClipPrecision,
                           lfQuality,
                           lfPitchAndFamily})
        *p++ = static_cast<char>(b);
    std::memcpy(p, lfFaceName, sizeof lfFaceName);
    return out;
}

LOGFONT LOGFONT::fromBytes(const char *data)
{
    LOGFONT f;
    const char *p = data;
    for (std::int32_t *v :
         {&f.lfHeight, &f.lfWidth, &f.lfEscapement, &f.lfOrientation, &f.lfWeight}) {
        *v = qFromLittleEndian<std::int32_t>(p);
        p += 4;
    }
    for (std::uint8_t *b : {&f.lfItalic,
                            &f.lfUnderline,
                            &f.lfStrikeOut,
                            &f.lfCharSet,
                            &f.lfOutPrecision,
                            &f.lfClipPrecision,
                            &f.lfQuality,
                            &f.lfPitchAndFamily})
        *b = static_cast<std::uint8_t>(*p++);
    std::memcpy(f.lfFaceName, p, sizeof f.lfFaceName);
    return f;
}

LOGFONT defaultCellFont()
{
    // Every new cell starts from this font: the face is encoded once, only the height follows
    // the current screen resolution.
    static const LOGFONT base = [] {
        LOGFONT f;
        f.setFaceName(QStringLiteral("宋体"));
        f.lfCharSet = DEFAULT_CHARSET;
        return f;
    }();
    LOGFONT f = base;
    const int dpiY = screenDpi(false);
    f.lfHeight = -std::abs(static_cast<int>(dpiY * 120.0 / 720.0 + 0.5));
    return f;
}

QFont fontFromLogFont(const LOGFONT &lf)
{
    QFont font(lf.faceName().isEmpty() ? QStringLiteral("宋体") : lf.faceName());
    // 0 asks for the default size: 12 points at the screen resolution.
    int pixels = lf.lfHeight == 0 ? -defaultCellFont().lfHeight : std::abs(lf.lfHeight);
    if (pixels < 1)
        pixels = 1;
    font.setPixelSize(pixels);
    if (lf.lfHeight > 0) {
        // A positive height is the cell height; shrink the character size until ascent plus
        // descent fits it. Metrics round, so the proportional first guess may still be a pixel
        // too tall.
        int height = QFontMetrics(font).height();
        if (height > lf.lfHeight) {
            int em = std::max(1, pixels * lf.lfHeight / height);
            font.setPixelSize(em);
            while (em > 1 && (height = QFontMetrics(font).height()) > lf.lfHeight)
                font.setPixelSize(--em);
        }
    }
    const int weight = lf.lfWeight <= 0 ? 400 : std::clamp<int>(lf.lfWeight, 1, 1000);
    font.setWeight(static_cast<QFont::Weight>(weight));
    font.setItalic(lf.lfItalic != 0);
    font.setUnderline(lf.lfUnderline != 0);
    font.setStrikeOut(lf.lfStrikeOut != 0);
    if (lf.lfWidth > 0) {
        const QFontMetrics fm(font);
        const int average = fm.averageCharWidth();
        if (average > 0)
            font.setStretch(std::clamp(lf.lfWidth * 100 / average, 1, 4000));
    }
    return font;
}

LOGFONT logFontFromFont(const QFont &font)
{
    LOGFONT lf;
    lf.setFaceName(font.family());
    lf.lfCharSet = DEFAULT_CHARSET;
    int pixels = font.pixelSize();
    if (pixels <= 0)
        pixels = static_cast<int>(font.pointSizeF() * screenDpi(false) / 72.0 + 0.5);
    lf.lfHeight = -std::abs(pixels);
    lf.lfWeight = font.weight() == QFont::Normal ? 400 : static_cast<int>(font.weight());
    lf.lfItalic = font.italic() ? 1 : 0;
    lf.lfUnderline = font.underline() ? 1 : 0;
    lf.lfStrikeOut = font.strikeOut() ? 1 : 0;
    return lf;
}

} // namespace tessarin
