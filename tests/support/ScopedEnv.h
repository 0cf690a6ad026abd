#pragma once

#include <cstdlib>
#include <optional>
#include <string>

// Changes an environment variable for the object's life, then puts back what
// was there before: the old value, or no variable at all.
class TScopedEnv {
public:
    // Sets the variable to value.
    TScopedEnv(std::string name, const std::string& value) : TScopedEnv(std::move(name)) {
        Set(value);
    }
    // Removes the variable.
    explicit TScopedEnv(std::string name) : FName(std::move(name)) {
        if (const char* old = std::getenv(FName.c_str()))
            FSaved = old;
        unsetenv(FName.c_str());
    }
    ~TScopedEnv() {
        if (FSaved)
            setenv(FName.c_str(), FSaved->c_str(), 1);
        else
            unsetenv(FName.c_str());
    }

    TScopedEnv(const TScopedEnv&) = delete;
    TScopedEnv& operator=(const TScopedEnv&) = delete;

    void Set(const std::string& value) { setenv(FName.c_str(), value.c_str(), 1); }

private:
    std::string FName;
    std::optional<std::string> FSaved;
};
