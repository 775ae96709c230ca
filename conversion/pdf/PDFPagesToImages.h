// PDF pages to images: every page of a range drawn at the job's resolution (or fitted to a
// size) and written as one image file per page, or all into one multi-page TIFF, with progress
// and cancellation between pages.
#pragma once

#include "ConversionEntries.h"

#include <cstdint>
#include <tiffio.h>

namespace conversion {

class ImageConversionJob;

// False for a range outside the document, else the outcome of the last page handled (true when
// none was). Pages that cannot be drawn or written make it false and the run goes on.
bool ConvertPDFPages(ImageConversionJob& job, bool usePageSize, RenderSize size);

// One page of a multi-page TIFF: `pixels` holds packed samples (grey 1, RGB 3 or 4 with alpha,
// CMYK 4) row after row. `colorModel` is 0 grey, 1 RGB, 2 CMYK. Does not close the file.
bool WriteTIFFPage(TIFF* tiff, std::uint32_t width, std::uint32_t height,
                   const std::uint8_t* pixels, int colorModel, bool alpha, std::uint64_t pageIndex,
                   std::uint64_t pageCount, double resolutionX, double resolutionY);

// CMYK (or other) samples to JPEG bytes in the job's encodedData, CMYK stored inverted with
// Adobe's marker as readers expect. False when nothing could be encoded.
bool WriteCMYKJPEG(ImageConversionJob& job, std::uint32_t width, std::uint32_t height,
                   const std::uint8_t* pixels, int jpegColorSpace, int components);

// The simple variant: each page drawn at twice its size in points and written through the image
// conversion as "<folder>/<input name>-NNN.<ext>". False for a document without pages.
bool ConvertPDFWithImageRep(ImageConversionJob& job);

} // namespace conversion
