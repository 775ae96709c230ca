// Poppler's own messages (the syntax errors of a damaged file, "Incorrect password") reach the
// conversion log's hook, one line each in Poppler's words, instead of standard error, so that a
// host that sets the hook gets them with the library's own messages.
#pragma once

namespace conversion {

// Makes Poppler's process-wide settings (lumeno::ensurePopplerGlobals) and routes its messages
// to ConversionLog; answers what ensurePopplerGlobals answers. Safe from any thread, as often as
// wanted; every use of Poppler's core classes in the library calls it first.
bool ensurePopplerWithConversionLog();

} // namespace conversion
