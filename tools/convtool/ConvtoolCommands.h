// The subcommands of convtool: each one name, one line of help and the entry that runs it with
// the arguments that follow the name (its own name first, as argv[0]).
#pragma once

struct ConvtoolCommand {
    const char* name;
    const char* summary;
    int (*run)(int argc, char** argv);
};

// Every subcommand, in the order `convtool --help` lists them; ends with a null name.
const ConvtoolCommand* convtoolCommands();

// Runs convtool with its whole command line; answers the process's exit code.
int runConvtool(int argc, char** argv);
