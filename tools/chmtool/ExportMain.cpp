// lumeno-chmtool-export: chmtool's "export", which chmtool becomes (execv) with its arguments.
// Apart because it loads the web engine, whose libraries alone take longer to load than any
// other command takes to run.
#include "ChmToolExport.h"
#include "HeadlessPlatform.h"

int main(int argc, char** argv) {
    printWithoutADisplay();
    return runExportCommand(argc, argv);
}
