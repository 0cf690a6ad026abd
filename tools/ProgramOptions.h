#pragma once

// How the fake server programs read their command lines: "--option value"
// pairs, whole numbers in range and names from a table. A bad argument is
// reported with the usage on standard error; --help prints the usage.

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <limits>
#include <optional>
#include <string>

template <class T> struct TNamedValue {
    const char* Name;
    T Value;
};

template <class T, std::size_t N>
std::optional<T> ValueByName(const TNamedValue<T> (&table)[N], const std::string& name) {
    for (const auto& entry : table) {
        if (name == entry.Name) {
            return entry.Value;
        }
    }
    return std::nullopt;
}

// A whole decimal number from 0 to max, with nothing before or after it.
inline std::optional<unsigned long long> ParseCount(const std::string& text,
                                                    unsigned long long max) {
    if (text.empty() || text[0] < '0' || text[0] > '9') {
        return std::nullopt;
    }
    errno = 0;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || value > max) {
        return std::nullopt;
    }
    return value;
}

class TOptionReader {
public:
    TOptionReader(const char* program, const char* usage) : FProgram(program), FUsage(usage) {}

    // Reports message with the usage; always false.
    bool Bad(const std::string& message) const {
        std::cerr << FProgram << ": " << message << "\n" << FUsage;
        return false;
    }

    // Hands every pair to take, in order; false at the first pair take refuses,
    // an option without its value or a stray argument. --help or -h prints
    // the usage and ends the program.
    bool Read(int argc, char** argv,
              const std::function<bool(const std::string& option, const std::string& value)>& take)
        const {
        for (int i = 1; i < argc; ++i) {
            const std::string option = argv[i];
            if (option == "--help" || option == "-h") {
                std::cout << FUsage;
                std::exit(0);
            }
            if (i + 1 >= argc) {
                return Bad(option.rfind("--", 0) == 0 ? option + " needs a value"
                                                      : "unknown argument " + option);
            }
            if (!take(option, argv[++i])) {
                return false;
            }
        }
        return true;
    }

    // The option's value as a whole number from 0 to max (the field's own
    // maximum when not given).
    template <class T>
    bool Number(const std::string& option, const std::string& value, T& field,
                unsigned long long max = std::numeric_limits<T>::max()) const {
        const auto number = ParseCount(value, max);
        if (!number) {
            return Bad(option + ": not a number in range: " + value);
        }
        field = static_cast<T>(*number);
        return true;
    }

    bool Unknown(const std::string& option) const { return Bad("unknown argument " + option); }

private:
    const char* FProgram;
    const char* FUsage;
};
