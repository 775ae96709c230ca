// Image to image without the whole picture in memory: a JPEG, PNG or plain TIFF file written as
// JPEG or PNG a band of rows at a time, the decoder on one thread and the encoder on the
// caller's, the output straight into its file. The bytes are those the whole-picture path writes.
#pragma once

#include "Bitmap.h"

#include <filesystem>
#include <string>

namespace conversion {

class ImageConversionJob;

enum class StreamedResult {
    NotHandled,   // left to the whole-picture path (nothing was written)
    Done,         // written
    InputFailed,  // the input could not be read; job.lastError says why
    OutputFailed, // the output could not be written; job.lastError says why
};

// For a job set up with its input and output (format, quality, source resolution kept, no
// metadata copied). Only plain cases are taken: one upright picture in grey or RGB.
StreamedResult convertStreamed(ImageConversionJob& job);

// A PNG file that stands upright (no EXIF to turn it by) decoded straight from the file, without
// a copy of the file in memory. False, with nothing decoded, for any other file, and for damaged
// data, which the whole-file decoder then reports in its own words.
bool readUprightPNGFile(const std::filesystem::path& path, Bitmap& out);

// Whether a PNG or TIFF file (by its type identifier) holds 16 bits a sample, which the streamed
// path and the PNG row reader bring down to 8: such a file goes to the whole-picture readers,
// which keep them for the writers that hold them.
bool holdsSixteenBitSamples(const std::filesystem::path& path, const std::string& typeIdentifier);

} // namespace conversion
