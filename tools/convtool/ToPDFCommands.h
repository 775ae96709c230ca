// convtool images-to-pdf, documents-to-pdf and merge: the entries that make PDF files.
#pragma once

int ImagesToPDFCommandMain(int argc, char** argv);
int DocumentsToPDFCommandMain(int argc, char** argv);
int MergeCommandMain(int argc, char** argv);
