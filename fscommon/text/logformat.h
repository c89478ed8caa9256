// printf-style formatting for the log, with wide text ("%ls", "%S", "%lc", "%C") written as
// UTF-8 on both platforms, whatever the process locale.
#pragma once

#include <cstdarg>
#include <string>

std::string formatLogMessage(const char* format, va_list args);
