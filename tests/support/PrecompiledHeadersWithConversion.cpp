// Nothing of its own: the target built from this file precompiles the test headers with the
// conversion library's compile options (OpenMP, from ImageMagick), for the test programs that
// link the library; a precompiled header made without them is refused by those programs.
