#pragma once

namespace tessarin {

// Prepares the environment of a program that makes pages, whether or not it shows them: the
// offscreen platform unless a platform is chosen (with `keepDisplay`, also not when a display
// is there), and a private runtime folder when the session has none, which Qt otherwise warns
// about on stderr. Call before the QApplication is made.
void prepareQtEnvironment(bool keepDisplay);

} // namespace tessarin
