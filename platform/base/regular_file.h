// Opening a file whose name came from outside without waiting on it: a FIFO with nobody at the
// other end, or a device, would hold the opening thread for as long as it stays idle, and a
// reader or writer of files has no business with either.
#pragma once

#include <string>

// Opens |path| with |flags| (O_CREAT makes a missing file) and returns the descriptor only when
// it is a regular file; -1 for anything else, which is not opened at all when plainly no regular
// file, as opening a FIFO or a device already acts on it.
int OpenRegularFile(const std::string& path, int flags);
