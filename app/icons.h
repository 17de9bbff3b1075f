#pragma once
// The main window's image list ilMain: small pictograms drawn in code, by their list index.
#include <QIcon>

namespace tessarin {

// Indices of ilMain the main window uses.
enum MainImage {
    imgNew = 0,
    imgOpen = 1,
    imgSave = 2,
    imgHelp = 8,
    imgPump = 12,
    imgRun = 13,
    imgWeb = 15,
    // Images of the standard edit actions, after the list's own.
    imgCopy = 16,
    imgCut,
    imgPaste,
    imgUndo,
    imgDelete,
};

// The image at `index` (16 x 16, with a 32 x 32 version); a null icon for an unused index.
QIcon mainImage(int index);

} // namespace tessarin
