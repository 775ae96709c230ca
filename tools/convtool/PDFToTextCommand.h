// convtool pdf-to-text: the PDF-to-text entry from the command line.
#pragma once

int PDFToTextCommandMain(int argc, char** argv);
