// chmtool's "export FILE OUTFOLDER": the whole book to one PDF on the headless web engine.
#pragma once

// Runs the command with the process's own arguments (argv[1] is "export"); answers the exit
// status: 0 when the PDF was written, 1 otherwise. Makes its own QApplication.
int runExportCommand(int argc, char** argv);
