#include "svcpanel.h"

#include "programdir.h"
#include "servicedialogs.h"

#include <QApplication>

#include <cstdio>
#include <exception>
#include <memory>

namespace {

// Runs `show` with a QApplication: the caller's, or one made for the call when the caller has
// none (a program without Qt). A caller with a non-widget Qt application cannot show dialogs.
template<typename Show>
void withApplication(Show show) noexcept
{
    try {
        std::unique_ptr<QApplication> own;
        if (!QCoreApplication::instance()) {
            static int argc = 1;
            static char name[] = "svcpanel";
            static char *argv[] = {name, nullptr};
            own = std::make_unique<QApplication>(argc, argv);
        } else if (!qobject_cast<QApplication *>(QCoreApplication::instance())) {
            std::fputs("svcpanel: the calling program has no widget application\n", stderr);
            return;
        }
        show();
    } catch (const std::exception &e) {
        std::fprintf(stderr, "svcpanel: %s\n", e.what());
    } catch (...) {
        std::fputs("svcpanel: unexpected failure\n", stderr);
    }
}

} // namespace

extern "C" SVCPANEL_EXPORT void SVCPANEL_CALL ShowAbout(void *parent, const char *title)
{
    withApplication([&] {
        const QString text = title ? QString::fromUtf8(title) : QStringLiteral("Tessarin");
        tessarin::AboutDialog dialog(text, static_cast<QWidget *>(parent));
        dialog.exec();
    });
}

extern "C" SVCPANEL_EXPORT void SVCPANEL_CALL ShowUpdate(void *parent)
{
    withApplication([&] {
        tessarin::UpdateDialog dialog(tessarin::programDirectory(), static_cast<QWidget *>(parent));
        dialog.exec();
    });
}
