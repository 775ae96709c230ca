// "convtool convert IN OUT --format N [options]": the image-file conversion entry from the
// command line.
#pragma once

// argv[0] is the subcommand's name. Answers the process exit status: 0 converted, 1 the
// conversion failed, 2 the command line is wrong.
int ConvertCommand(int argc, char** argv);
