#pragma once

// Seams of Unit_Functions that only the tests use: the suffix column of the
// server table, and the address lookup with the name service replaced, so the
// "www." fallback can be checked without asking a real name service.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace unitfunctions_testing {

// The suffixes of the WHOIS server table, in lookup order.
const std::vector<std::string>& WhoisSuffixes();

// GetHostIP with resolve in place of the name service.
std::string GetHostIPUsing(std::string_view name,
                           const std::function<std::string(const std::string&)>& resolve);

} // namespace unitfunctions_testing
