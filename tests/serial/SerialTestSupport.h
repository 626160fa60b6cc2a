#pragma once

#include <cstdlib>
#include <optional>
#include <string>

#include "support/PseudoTerminal.h"

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
        if (value) {
            ::setenv(Name, value->c_str(), 1);
        } else {
            ::unsetenv(Name);
        }
    }
    std::optional<std::string> old_;
};
