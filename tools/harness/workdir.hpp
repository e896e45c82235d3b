// The working directory of a run: a fresh temporary one, and the files a run leaves in it.
#pragma once

#include <map>
#include <optional>
#include <string>

#include <sys/types.h>

#include "harness/harness.hpp"

namespace harness {

// Makes a fresh directory under /tmp with the given mode, owned by owner when given.
// Returns its path, or an empty text with why set.
std::string make_temp_workdir(mode_t mode, const std::optional<identity>& owner, std::string& why);

// The regular files directly inside the directory open as dirfd, with contents and modes.
std::map<std::string, file> collect_files(int dirfd);

// Removes a temporary working directory and everything in it, ignoring failures.
void remove_workdir(const std::string& path);

} // namespace harness
