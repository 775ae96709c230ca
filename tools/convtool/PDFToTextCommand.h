// convtool pdf-to-text: the PDF-to-text entry from the command line.
#pragma once

int PDFToTextCommandMain(int argc, char** argv);

// Whether the arguments ask for a format that needs Qt or LibreOffice (ODT, Word .doc), which the
// convtool front leaves to the program with every library.
bool PDFToTextCommandNeedsAllLibraries(int argc, char** argv);
