// The commands of chmtool: each opens the file through CHMDocument, as the reader does, and
// prints what it found. Output is stable: tests and checks compare it.
#pragma once

#include <QStringList>

// Runs one command line (without the program name); answers the process exit status.
int runChmTool(const QStringList& args);
