// SPDX-License-Identifier: Zlib
// Forced into every source of the static stub. libstdc++'s configuration
// tests glibc's version with this macro, which only glibc defines; under musl
// every such test is false.
#pragma once
#define __GLIBC_PREREQ(major, minor) 0
