// The WebP command lines of convtool, in the manner of cwebp and dwebp: options parsed here, the
// work done by the conversion library's WebP readers, encoder, decoder and writers.
#pragma once

// "convtool webp-encode ARGS...": argv[0] is the command's name.
int EncoderToolMain(int argc, char** argv);
// "convtool webp-decode ARGS...": argv[0] is the command's name.
int DecoderToolMain(int argc, char** argv);
