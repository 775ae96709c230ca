// Where the reader's bundled files are (user style sheet, toolbar icons, scripts, manual).
//
// In order: the folder named by the environment variable LUMENO_RESOURCES when it is set and
// not empty; "../share/lumeno" next to the executable's folder (an installed program); the
// source tree's "resources" folder baked in at build time (a program run from its build
// folder). A missing resource is an ordinary answer (a null path), never an error here.
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
