#include "translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include <memory>

namespace tessarin {

bool installChineseTranslations(QCoreApplication &app)
{
    if (app.findChild<QTranslator *>(QStringLiteral("qtbase_zh_CN")))
        return true;
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(QStringLiteral("qtbase_zh_CN"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        return false;
    translator->setObjectName(QStringLiteral("qtbase_zh_CN"));
    translator->setParent(&app);
    QCoreApplication::installTranslator(translator.release());
    return true;
}

} // namespace tessarin
