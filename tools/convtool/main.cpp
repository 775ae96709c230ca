// convtool: the conversion library from the command line, one subcommand per entry.
#include "ConvertCommand.h"

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "convert") == 0)
        return ConvertCommand(argc - 1, argv + 1);
    std::fprintf(stderr, "usage: convtool convert IN OUT --format N [options]\n");
    return 2;
}
