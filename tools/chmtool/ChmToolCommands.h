// The commands of chmtool: each opens the file through CHMDocument, as the reader does, and
// prints what it found. Output is stable: tests and checks compare it.
#pragma once

#include <QStringList>

// Runs one command line (without the program name); answers the process exit status: 0 done, 1
// the book or object cannot be read (one line on standard error), 2 a malformed command line.
int runChmTool(const QStringList& args);

// The one-line summary of the commands; "--help" prints it on standard output.
QString chmToolUsage();
// "--help" or "-h".
bool isHelpRequest(const QString& argument);
