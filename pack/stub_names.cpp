#include "stub_names.h"

name_rules stub_name_rules(const char *image, size_t size) {
    return size >= 2 && image[0] == 'M' && image[1] == 'Z' ? NAME_RULES_WINDOWS : NAME_RULES_POSIX;
}
