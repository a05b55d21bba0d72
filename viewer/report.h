#pragma once

#include <string>

// Says what went wrong in one line on standard error, "viewer: <message>", and gives the exit
// status for a run that failed.
int fail(const std::string& message);

// The system's explanation of an error number, for the end of such a message.
std::string reason(int error);
