#pragma once

// The main of a benchmark program that needs Qt: a QApplication on the offscreen platform with
// the CJK font substitutions, then every registered benchmark.

#include "fonts.h"
#include "qtenvironment.h"

#include <QApplication>

#include <benchmark/benchmark.h>

#include <functional>

namespace tessarin::bench {

// `setup` runs once the application exists (e.g. to install a printer layer).
inline int runQtBenchmarks(int argc, char **argv, const std::function<void()> &setup = {})
{
    prepareQtEnvironment(false);
    QApplication app(argc, argv);
    installFontSubstitutions();
    if (setup)
        setup();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

} // namespace tessarin::bench
