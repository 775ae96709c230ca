// chmtool's "export FILE OUTFOLDER": the whole book to one PDF on the headless web engine.
#pragma once

// Runs the command with the process's own arguments (argv[1] is "export"); answers the exit
// status: 0 when the PDF of the whole book was written; 1 when none was, or when pages the book
// lists could not be read (the PDF of the rest is written, and a line says how many); 2 for a
// malformed command line. Makes its own QApplication.
int runExportCommand(int argc, char** argv);
