#include "tickcount.h"

#include <QElapsedTimer>

namespace tessarin {

std::uint32_t GetTickCount()
{
    static const QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return static_cast<std::uint32_t>(clock.elapsed());
}

} // namespace tessarin
