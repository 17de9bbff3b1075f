#pragma once
// Qt's own Chinese translations for every program: the standard buttons, file, print and
// preview dialogs speak the user's language like the rest of the program.

class QCoreApplication;

namespace tessarin {

// Loads qtbase_zh_CN from Qt's translation folder into `app` (once per application). False
// when the translations are not installed; the dialogs then stay in English.
bool installChineseTranslations(QCoreApplication &app);

} // namespace tessarin
