#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <string>

#include "hdlc/TraceWriter.h"

using kvq::hdlc::TraceFileSink;

// A trace file that cannot be written is never taken for a complete one: at
// its open the tool is told at once; later (a full disk) the sink says the
// trace stops short, so the tool can say so at its end.
TEST(TraceFileSink, SaysWhenTheFileCouldNotBeWrittenToTheEnd) {
    std::string error;
    TraceFileSink full;
    EXPECT_FALSE(full.Open("/dev/full", "# title", error));
    EXPECT_EQ(error, "cannot write the trace file /dev/full");

    const auto path = std::filesystem::temp_directory_path() /
                      ("kvq-trace-cut-" + std::to_string(::getpid()) + ".txt");
    TraceFileSink sink;
    ASSERT_TRUE(sink.Open(path.string(), "# title", error)) << error;
    sink.Line("first line", true);
    sink.Flush();
    EXPECT_EQ(sink.Problem(), "");

    // The file may grow no further: writes past the limit fail as on a full disk.
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    for (int i = 0; i < 100; ++i)
        sink.Line(std::string(100, 'x'), true);
    sink.Flush();
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    std::filesystem::remove(path);

    EXPECT_EQ(sink.Problem(), "the trace file " + path.string() +
                                  " could not be written to the end: the frames after the "
                                  "failure are missing");
}
