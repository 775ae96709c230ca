#include "NumberArguments.h"

#include <cerrno>
#include <cstdlib>

bool ParseLongArgument(const char* text, long long* value, int base) {
    if (!text || !*text)
        return false;
    char* end = nullptr;
    errno = 0;
    *value = std::strtoll(text, &end, base);
    return errno == 0 && end && *end == 0;
}

bool ParseDoubleArgument(const char* text, double* value) {
    if (!text || !*text)
        return false;
    char* end = nullptr;
    errno = 0;
    *value = std::strtod(text, &end);
    return errno == 0 && end && *end == 0;
}
