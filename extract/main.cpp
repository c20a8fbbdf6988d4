// SPDX-License-Identifier: Zlib
#include "run.h"

int main(int argc, char **argv) {
    return run_extractor(argc, argv);
}
