#pragma once
// The run's progress message as a Qt event: posted by a project window to the receiver its main
// window names, carrying the two message parameters unchanged.
#include "qzrun.h"

#include <QEvent>

namespace tessarin {

// wParam 0: a run starts, lParam the progress maximum; 1: position, lParam the visit count;
// 2: the run has ended, lParam 0.
class TqzRunProgressEvent : public QEvent
{
public:
    static constexpr QEvent::Type EventType = static_cast<QEvent::Type>(WM_RUNPROGRESS);

    TqzRunProgressEvent(int wParam, int lParam)
        : QEvent(EventType)
        , wParam(wParam)
        , lParam(lParam)
    {}

    const int wParam;
    const int lParam;
};

} // namespace tessarin
