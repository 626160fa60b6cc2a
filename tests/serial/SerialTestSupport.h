#pragma once

#include <cstdlib>
#include <optional>
#include <string>

#ifndef _WIN32
#include "support/PseudoTerminal.h"
#endif

// Sets or removes the port map variable for a scope and puts the old value back.
class ScopedPortMap {
public:
    explicit ScopedPortMap(const std::optional<std::string>& value) {
        if (const char* old = std::getenv(Name)) {
            old_ = old;
        }
        Apply(value);
    }
    ~ScopedPortMap() { Apply(old_); }
    ScopedPortMap(const ScopedPortMap&) = delete;
    ScopedPortMap& operator=(const ScopedPortMap&) = delete;

private:
    static constexpr const char* Name = "KVQ_SERIAL_PORTS";
    static void Apply(const std::optional<std::string>& value) {
#ifdef _WIN32
        // An empty value removes the variable.
        ::_putenv_s(Name, value ? value->c_str() : "");
#else
        if (value) {
            ::setenv(Name, value->c_str(), 1);
        } else {
            ::unsetenv(Name);
        }
#endif
    }
    std::optional<std::string> old_;
};
