#include "fonts.h"

#include <QFont>
#include <QStringList>

namespace tessarin {

void installFontSubstitutions()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    // AR PL UMing first: a Ming face whose line is about one em, as on the sheets the stored
    // pages were measured for, and whose common ideographs and radicals are distinct glyphs, so
    // PDF text copies out as drawn. Noto Serif CJK covers the rare characters UMing lacks.
    const QStringList serif{QStringLiteral("AR PL UMing CN"),
                            QStringLiteral("Noto Serif CJK SC"),
                            QStringLiteral("Noto Serif CJK"),
                            QStringLiteral("Noto Sans CJK SC")};
    const QStringList sans{QStringLiteral("Noto Sans CJK SC"),
                           QStringLiteral("Noto Sans CJK"),
                           QStringLiteral("AR PL UMing CN"),
                           QStringLiteral("Noto Serif CJK SC")};
    for (const QString &face : {QStringLiteral("宋体"), QStringLiteral("SimSun"),
                                QStringLiteral("新宋体"), QStringLiteral("NSimSun"),
                                QStringLiteral("仿宋"), QStringLiteral("仿宋_GB2312"),
                                QStringLiteral("FangSong"), QStringLiteral("楷体"),
                                QStringLiteral("楷体_GB2312"), QStringLiteral("KaiTi")})
        QFont::insertSubstitutions(face, serif);
    for (const QString &face : {QStringLiteral("黑体"), QStringLiteral("SimHei"),
                                QStringLiteral("微软雅黑"), QStringLiteral("Microsoft YaHei")})
        QFont::insertSubstitutions(face, sans);
}

} // namespace tessarin
