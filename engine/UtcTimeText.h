#pragma once

// A moment as people read it in UTC, in a strftime format ("%Y-%m-%d"). No
// Qt here.

#include <chrono>
#include <string>

std::string UtcTimeText(std::chrono::system_clock::time_point when, const char* format);
