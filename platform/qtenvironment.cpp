#include "qtenvironment.h"

#include <QDir>
#include <QFile>
#include <QtGlobal>

#include <unistd.h>

namespace tessarin {

void prepareQtEnvironment(bool keepDisplay)
{
    const bool hasDisplay = !qEnvironmentVariableIsEmpty("DISPLAY")
                            || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && !(keepDisplay && hasDisplay))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        const QString dir = QDir::tempPath() + QStringLiteral("/runtime-%1").arg(getuid());
        if (QDir().mkpath(dir)) {
            QFile::setPermissions(
                dir, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
            qputenv("XDG_RUNTIME_DIR", QFile::encodeName(dir));
        }
    }
}

} // namespace tessarin
