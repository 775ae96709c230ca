// The scripts the export runs in a loaded page, in the reader's own script world, before and
// after printing it. Each is one expression whose value comes back to the caller.
#pragma once

#include <QString>

namespace ExportPageScripts {

// Turns every frameset (of the page, and of pages in its frames) into a page that shows each of
// its frames one below the other, in their order, as frames that the frame sizing then makes as
// high as their pages: a frameset prints as one screen whatever its frames hold. Answers how many
// frames made so far have still to load; run again until none has.
QString framesetScript();

// Makes each inner frame as high as its page, innermost first, so that it prints whole.
QString frameSizingScript();

// Shrinks a page whose content is wider than the printable width (a line that must not wrap, a
// wide table) until it fits, so that nothing is cut at the right edge. Answers the zoom applied.
QString widthFittingScript();

// The page's text as the printed words will show it, and its link targets. See
// PageTextContent::fromWalk for the answer's form.
QString domWalkScript();

} // namespace ExportPageScripts
