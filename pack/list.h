// Listing and checking a self-extracting file the way the stub reads it.
#pragma once

// Prints every member the stub would take up (kind, data size, name) on
// standard output and any problem on standard error. Returns 0 only when the
// length is right and every record passes the stub's judging; whether the
// target's file system can take the members is not checked.
int run_list(const char *path);
