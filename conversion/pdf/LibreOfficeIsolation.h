// Keeps a LibreOffice run to the one document it converts: its private profile never updates
// links nor loads what a document links to, and it starts without a network.
#pragma once

#include <filesystem>
#include <string>
#include <sys/types.h>

namespace conversion {

// Writes the settings of the profile folder ("-env:UserInstallation") before LibreOffice first
// starts with it: links are never updated, and linked pictures and objects are not fetched.
bool writeIsolatedProfile(const std::filesystem::path& profile, std::string& error);

// How a child was kept off the network.
enum class NetworkIsolation {
    OwnNamespace,  // a network namespace of its own (the process may make one)
    UserNamespace, // one inside a user namespace of its own, as `unshare -rn` makes it
    NotIsolated,   // neither could be made: only the profile keeps LibreOffice off the network
};

// The user and group maps of a user namespace that keeps the caller's own ids, made before the
// child is forked (nothing may be allocated there).
struct OwnIdMaps {
    char uidMap[48];
    char gidMap[48];
};
OwnIdMaps ownIdMaps();

// Moves the calling process into a network namespace of its own, with no interface, so that
// nothing it then runs can reach a host (not even this one): directly where it may, else inside
// a user namespace of its own that maps the caller's ids onto themselves. `error` receives the
// errno of the last attempt when neither works. Called in a forked child before exec, so it does
// nothing that is not async-signal-safe; the process must have one thread.
NetworkIsolation enterOwnNetwork(const OwnIdMaps& maps, int& error);

} // namespace conversion
