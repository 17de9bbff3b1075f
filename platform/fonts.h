#pragma once

namespace tessarin {

// Maps the cell font faces of Chinese data sheets ("宋体", SimSun and friends) to AR PL UMing CN,
// with Noto Serif CJK SC for the characters it lacks (the sans faces to Noto Sans CJK SC), so
// pages look like printed sheets, texts fit the heights stored pages were measured with, and PDF
// text copies out as drawn. Call once at the start of every program and test that draws text;
// later calls do nothing.
void installFontSubstitutions();

} // namespace tessarin
