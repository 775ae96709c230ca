// The decoder command's one process-wide setting: verbose timing, written only by
// DecoderToolMain and read by SaveDecodedImage.
#pragma once

void setDecoderToolVerbose(bool verbose);
bool decoderToolVerbose();
