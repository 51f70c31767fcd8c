#pragma once

#include <string>

/// Writes all of `bytes` to `fd`, retrying partial writes and EINTR. False
/// on failure with errno set; a write that makes no progress counts as
/// ENOSPC, so a full disk never loops.
bool WriteAll(int fd, const std::string& bytes);
