// Member names as the stub a file is packed for will take them.
#pragma once

#include "platform.h"

#include <cstddef>

// The name rules of the stub whose image starts with the `size` bytes at
// `image`: Windows programs start with "MZ", anything else is taken as POSIX.
name_rules stub_name_rules(const char *image, size_t size);
