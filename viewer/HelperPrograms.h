// Where the programs that work for the reader and chmtool are found: the reading program
// (lumeno-chm-reader) and chmtool's export (lumeno-chmtool-export). Beside the running executable,
// then in "../libexec/lumeno" from its folder: where an installed tree keeps them, and the build
// tree too (build/bin, build/app and build/libexec/lumeno).
#pragma once

#include <QString>
#include <QStringList>

// The folders looked in, in order (absolute, whether or not they exist).
QStringList helperProgramFolders();

// The first of them that holds an executable `name`; empty when none does.
QString findHelperProgram(const QString& name);
