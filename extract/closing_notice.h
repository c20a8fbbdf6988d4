// The end of a run without error: a separator line, then the notice file when
// the current directory holds one.
#pragma once

// Name of the notice file looked for in the current directory.
constexpr const char *NOTICE_FILE_NAME = "_setup_.txt";

void run_closing_notice();
