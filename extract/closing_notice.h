// SPDX-License-Identifier: Zlib
// The end of a run without error: a separator line, then the notice file when
// the current directory holds one.
#pragma once

void run_closing_notice();
