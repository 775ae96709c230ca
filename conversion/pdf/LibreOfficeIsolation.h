// Keeps a LibreOffice run to the one document it converts: its private profile never updates
// links nor loads what a document links to, and it starts without a network.
#pragma once

#include <filesystem>
#include <spawn.h>
#include <string>

namespace conversion {

// Writes the settings of the profile folder ("-env:UserInstallation") before LibreOffice first
// starts with it: links are never updated, and linked pictures and objects are not fetched.
bool writeIsolatedProfile(const std::filesystem::path& profile, std::string& error);

// posix_spawn in a network namespace of its own, with no interface, so that nothing LibreOffice
// does can reach a host (not even this one). Where the system refuses a namespace (no
// privilege), the program starts as it would have, kept off the network by its profile alone.
int spawnWithoutNetwork(pid_t* child, const char* program,
                        const posix_spawn_file_actions_t* actions,
                        const posix_spawnattr_t* attributes, char* const argv[],
                        char* const environment[]);

} // namespace conversion
