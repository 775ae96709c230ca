// Where the reader's bundled files are (user style sheet, toolbar icons, scripts, manual).
//
// In order: the folder named by the environment variable LUMENO_RESOURCES when it is set and
// not empty; "../share/lumeno" next to the executable's folder, which is where an installed
// program has them and where the build tree stages them for a program run from its build
// folder. No path of the machine that built it is kept in the program. A missing resource is an
// ordinary answer (a null path), never an error here.
#pragma once

#include <QString>

class ResourceLocator {
public:
    // The folder resources are looked up in; null when none of the candidates exists.
    static QString resourcesDir();
    // The path of the named resource ("icons/Home.svg"); null when the file does not exist.
    static QString resourcePath(const QString& name);
    // The named resource's text (UTF-8); null, with a log line saying what `missingMeans`, when
    // it is missing or unreadable.
    static QString readText(const QString& name, const char* missingMeans);
};
