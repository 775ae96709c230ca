#pragma once

// convtool pdf-images IN OUTFOLDER [OPTIONS]: the embedded-image extractor.
int PDFImagesCommandMain(int argc, char** argv);
