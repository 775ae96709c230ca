// The reading program's confinement: once chmlib has its file, the process may only read and
// write the descriptors it has, allocate memory and end. Anything else (opening a file,
// a network socket, starting a program, signalling another process) fails with EPERM. EPERM
// rather than killing: a sanitized build's report path (symbolizing, reading /proc/self/maps)
// then degrades instead of vanishing, and the process still ends.
#pragma once

#include <QString>

// Sets no-new-privileges and loads the filter. False, with the reason, when it cannot: the
// program then refuses to read the book.
bool confineProcess(QString* reason);
