// lumeno-text-layout: lays one document out on paper into a print PDF, for the conversion
// library, which runs it as a child with a time limit. Not meant to be run by hand; the options
// are those layoutArguments writes.
#include "DocumentLayout.h"

#include <QGuiApplication>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    // No window is ever shown: the layout needs fonts, not a display, whatever platform the
    // host that started it uses.
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    // The layout's fonts and paint devices need a GUI application; the library makes none.
    int qtArgc = 1;
    char name[] = "lumeno-text-layout";
    char* qtArgv[] = {name, nullptr};
    QGuiApplication application(qtArgc, qtArgv);
    conversion::DocumentLayoutRequest request;
    std::string error;
    if (!conversion::parseLayoutArguments(arguments, request, error) ||
        !conversion::layOutDocument(request, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    return 0;
}
