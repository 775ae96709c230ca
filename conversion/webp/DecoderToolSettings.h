// The decoder command's one process-wide setting: verbose timing, written only by
// DecoderToolMain and read by SaveDecodedImage.
#pragma once

void SetDecoderToolVerbose(bool verbose);
bool DecoderToolVerbose();
