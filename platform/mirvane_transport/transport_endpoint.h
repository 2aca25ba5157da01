// Where an endpoint lives: a Unix-domain socket of that name in the per-user runtime folder,
// reachable by its own user only.
#pragma once

#include <string>

namespace mirvane {

// $XDG_RUNTIME_DIR when it names a folder of ours, else a private folder "/tmp/quellwick-run-<uid>"
// (made with mode 0700; refused when it is a link or another user's). Ends in "/"; empty when
// no safe folder exists.
std::string RuntimeFolder();
// The socket's path for |name|; empty when the name is not a plain file name or no runtime
// folder exists.
std::string EndpointPath(const std::string& name);

// The engine's side: a listening socket at the endpoint (mode 0600), replacing a stale one.
// Returns the descriptor (close-on-exec) or -1.
int ListenEndpoint(const std::string& name);
// The client's side: a connection to a listener of our own user, or -1.
int ConnectEndpoint(const std::string& name);

}  // namespace mirvane
