#include "viewer/report.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

int fail(const std::string& message)
{
    std::fprintf(stderr, "viewer: %s\n", message.c_str());
    return EXIT_FAILURE;
}

std::string reason(int error)
{
    return std::strerror(error);
}
