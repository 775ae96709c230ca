// Image to image without the whole picture in memory: a JPEG or PNG file written as JPEG or PNG
// a band of rows at a time, the decoder on one thread and the encoder on the caller's, the
// output straight into its file. The bytes are those the whole-picture path writes.
#pragma once

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

} // namespace conversion
