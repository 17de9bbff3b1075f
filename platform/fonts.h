#pragma once

namespace tessarin {

// Maps the cell font faces of Chinese data sheets ("宋体", SimSun and friends) to the installed
// CJK serif, so pages look like printed sheets and text measurement is stable. Call once at the
// start of every program and test that draws text; later calls do nothing.
void installFontSubstitutions();

} // namespace tessarin
