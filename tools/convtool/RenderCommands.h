// convtool render and convtool pdf-to-images: RenderImageFile and ConvertPDFToImages with their
// options as flags.
#pragma once

int RenderCommand(int argc, char** argv);
int PDFToImagesCommand(int argc, char** argv);
