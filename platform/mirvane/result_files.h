// The files the engine writes: the dist file with an item's detailed result and the candidate's
// user model. Nothing else is ever written, and both are replaced whole, never in place.
#pragma once

#include <string>
#include <vector>

namespace mirvane {

// True when |output| may be written: empty (not asked for), or a path that is not a folder,
// device, socket or other non-regular file and is none of |inputs| (the same file under another
// name counts too).
bool OutputAllowed(const std::string& output, const std::vector<std::string>& inputs);

// Writes |text| to a temporary file beside |path|, flushes it to disk and renames it over
// |path|, making missing parent folders. A reader sees the old file or the new one, whole.
bool WriteFileAtomically(const std::string& path, const std::string& text);

// The user model: the cepstral mean the candidate's next item starts from. ReadUserModel is
// false (and |mean| untouched) when there is no model yet; |damaged| tells a file that exists
// but holds no model of ours, which is then left as it is.
bool ReadUserModel(const std::string& path, std::vector<float>& mean, bool& damaged);
bool WriteUserModel(const std::string& path, const std::vector<float>& mean);

}  // namespace mirvane
