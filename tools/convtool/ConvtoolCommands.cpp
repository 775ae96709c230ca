#include "ConvtoolCommands.h"

#include "ConvertCommand.h"
#include "PDFImagesCommand.h"
#include "PDFToTextCommand.h"
#include "RenderCommands.h"
#include "ToPDFCommands.h"

#include "WebPCommands.h"

#include <cstdio>
#include <cstring>

namespace {

// One line per subcommand.
const ConvtoolCommand kCommands[] = {
    {"webp-encode", "encode a PNG, JPEG or TIFF image to WebP (-longhelp lists the options)",
     EncoderToolMain},
    {"webp-decode", "decode a WebP image to PNG, PAM, PPM, PGM, BMP, TIFF or YUV (-h)",
     DecoderToolMain},
    {"convert", "convert an image file to another format (--format N; -h lists the options)",
     ConvertCommand},
    {"render", "resize, turn, recolour and watermark an image (-h lists the options)",
     RenderCommand},
    {"pdf-to-images", "draw the pages of a PDF into image files (-h lists the options)",
     PDFToImagesCommand},
    {"pdf-to-text", "write the text of a PDF as text, RTF, RTFD, Word, DOCX or ODT documents",
     PDFToTextCommandMain},
    {"images-to-pdf", "put images into one PDF, or one PDF each (-h)", ImagesToPDFCommandMain},
    {"documents-to-pdf", "lay out text, HTML, RTF, Word and ODT documents as PDF (-h)",
     DocumentsToPDFCommandMain},
    {"merge", "merge PDFs, images and documents into one PDF with an outline (-h)",
     MergeCommandMain},
    {"pdf-images", "write the pictures embedded in a PDF's pages as files (-h)",
     PDFImagesCommandMain},
    {nullptr, nullptr, nullptr},
};

void printHelp(FILE* out) {
    std::fprintf(out, "Usage: convtool COMMAND [ARGUMENTS...]\n\n"
                      "Drives the conversion library. Commands:\n");
    for (const ConvtoolCommand* c = convtoolCommands(); c->name; ++c)
        std::fprintf(out, "  %-14s %s\n", c->name, c->summary);
    std::fprintf(out, "\n\"convtool COMMAND -h\" shows the options of a command.\n");
}

} // namespace

const ConvtoolCommand* convtoolCommands() {
    return kCommands;
}

int runConvtool(int argc, char** argv) {
    if (argc < 2) {
        printHelp(stderr);
        return 2;
    }
    const char* name = argv[1];
    if (!std::strcmp(name, "--help") || !std::strcmp(name, "-h") || !std::strcmp(name, "help")) {
        printHelp(stdout);
        return 0;
    }
    for (const ConvtoolCommand* c = convtoolCommands(); c->name; ++c)
        if (!std::strcmp(name, c->name))
            return c->run(argc - 1, argv + 1);
    std::fprintf(stderr, "convtool: unknown command '%s'\n\n", name);
    printHelp(stderr);
    return 2;
}
