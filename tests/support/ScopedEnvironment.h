#pragma once

#include <cstdlib>
#include <optional>
#include <string>

namespace testsupport
{

// An environment variable as a test wants it, put back as it was when the scope ends, so that
// the cases after it in the same process meet the process's own environment.
class ScopedEnvironment
{
public:
    // Keeps the variable as it is; set() changes it for the scope.
    explicit ScopedEnvironment (const char* variableName) : name (variableName)
    {
        if (const auto* old = std::getenv (name.c_str()))
            previous = old;
    }

    // Sets the variable for the scope; null unsets it.
    ScopedEnvironment (const char* variableName, const char* value) : ScopedEnvironment (variableName)
    {
        set (value);
    }

    ~ScopedEnvironment()
    {
        set (previous.has_value() ? previous->c_str() : nullptr);
    }

    // Null unsets the variable.
    void set (const char* value)
    {
        if (value != nullptr)
            ::setenv (name.c_str(), value, 1);
        else
            ::unsetenv (name.c_str());
    }

private:
    const std::string name;
    std::optional<std::string> previous;

    ScopedEnvironment (const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator= (const ScopedEnvironment&) = delete;
};

// The proxy variables unset for the scope: requests to the tests' own servers on this machine
// go to them directly.
struct ScopedNoProxies
{
    ScopedEnvironment variables[6] { { "http_proxy", nullptr }, { "HTTP_PROXY", nullptr },
                                     { "https_proxy", nullptr }, { "HTTPS_PROXY", nullptr },
                                     { "all_proxy", nullptr }, { "ALL_PROXY", nullptr } };
};

} // namespace testsupport
