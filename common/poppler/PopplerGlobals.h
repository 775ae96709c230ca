#pragma once

namespace lumeno {

// Makes Poppler's process-wide settings (`globalParams`) once, with UTF-8 as the text encoding,
// and keeps them for the life of the process. Every caller of Poppler's core classes (PDFDoc,
// TextOutputDev, ...) calls it first; it is the only code that creates them. Safe to call from
// any thread, as often as wanted. Returns false when Poppler has no UTF-8 map (text can't be
// read then).
bool ensurePopplerGlobals();

} // namespace lumeno
