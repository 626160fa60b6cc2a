#pragma once

// What kvqctl writes, read back by its tests, whether it ran as its own
// process or in the test's: its JSON lines, its progress lines, and the files
// a test gives it.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

namespace kvq::testing {

using nlohmann::json;

// Every line of kvqctl's standard output under --json, parsed: a line that is
// not one JSON object fails the test.
inline std::vector<json> JsonLines(const std::string& out) {
    std::vector<json> objects;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        const json object = json::parse(line, nullptr, false);
        EXPECT_TRUE(object.is_object()) << "not a JSON object: " << line;
        if (object.is_object()) objects.push_back(object);
    }
    return objects;
}

// The stream ends with the one final object: it alone has the exit code, and
// its error is a sentence exactly when the run failed.
inline json FinalObject(const std::string& out, int code) {
    const auto objects = JsonLines(out);
    if (objects.empty()) {
        ADD_FAILURE() << "no JSON on the standard output";
        return json::object();
    }
    for (std::size_t i = 0; i + 1 < objects.size(); ++i)
        EXPECT_FALSE(objects[i].contains("exitCode")) << "a final object before the last line";
    const json& last = objects.back();
    EXPECT_EQ(last.value("exitCode", -1), code) << last;
    EXPECT_TRUE(last.contains("error")) << last;
    if (code == 0) {
        EXPECT_TRUE(last["error"].is_null()) << last;
    } else {
        EXPECT_TRUE(last["error"].is_string() && !last["error"].get<std::string>().empty()) << last;
    }
    EXPECT_TRUE(last.contains("ready") && last.contains("progress")) << last;
    return last;
}

// The figures of the progress lines for `what` on a standard error that is no
// terminal ("downloading  40%  0:12 left"), in order.
inline std::vector<int> ProgressFigures(const std::string& err, const std::string& what) {
    std::vector<int> figures;
    std::istringstream lines(err);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(what + " ", 0) != 0 || line.find(" left") == std::string::npos) continue;
        EXPECT_EQ(line.find('\r'), std::string::npos) << "a bar drawn in place: " << line;
        figures.push_back(std::stoi(line.substr(what.size())));
    }
    return figures;
}

// Progress that only goes up, from its start to its end.
inline void ExpectRisingProgress(const std::vector<int>& figures, const std::string& err) {
    ASSERT_GE(figures.size(), 3u) << err;
    for (std::size_t i = 1; i < figures.size(); ++i)
        EXPECT_GT(figures[i], figures[i - 1]) << err;
    EXPECT_LT(figures.front(), 10) << err;
    EXPECT_GE(figures.back(), 90) << err;
}

// Two models of the sample, and two whose names differ only in letter case.
inline void WriteSmallTable(const std::filesystem::path& directory,
                            const std::filesystem::path& sample) {
    std::ifstream in(sample);
    std::ofstream out(directory / "ZZ_SMALL.ascu");
    out << "AT-VERSION\t3\n";
    std::string line, config;
    while (std::getline(in, line)) {
        if (line.rfind("AP1721-65-18\t", 0) == 0 || line.rfind("AP1727-90-16\t", 0) == 0)
            out << line << "\n";
        if (line.rfind("AP1727-90-16\t", 0) == 0) {
            std::istringstream columns(line);
            for (int i = 0; i < 5; ++i)
                columns >> config;
        }
    }
    out << "WIDE-1\t0\t150\t0\t" << config << "\tWide\n";
    out << "WIDE-2\t-20\t80\t0\t" << config << "\tWIDE\n";
}

// vlx400fw.bin in the test's directory: a header with `version`, then a short
// image, so a download takes a few blocks.
inline std::vector<char> WriteFirmware(const std::filesystem::path& directory,
                                       const std::string& version, std::size_t imageSize = 500) {
    std::vector<char> file(10, '\0');
    file[0] = 0x01;
    std::copy(version.begin(), version.end(), file.begin() + 2);
    for (std::size_t i = 0; i < imageSize; ++i)
        file.push_back(static_cast<char>(i * 11 + 5));
    std::ofstream(directory / "vlx400fw.bin", std::ios::binary)
        .write(file.data(), static_cast<std::streamsize>(file.size()));
    return file;
}

inline bool Says(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

}  // namespace kvq::testing
