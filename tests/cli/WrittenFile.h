#pragma once

#include <cstdio>
#include <string>

namespace kvq::testing {

// Everything written to a file a test handed out (a tmpfile), from its start.
inline std::string Written(std::FILE* file) {
    std::fflush(file);
    std::rewind(file);
    std::string text;
    for (int c; (c = std::fgetc(file)) != EOF;)
        text += static_cast<char>(c);
    return text;
}

}  // namespace kvq::testing
