#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "hdlc/TraceWriter.h"
#include "serial/LineTap.h"
#include "serial/SerialLine.h"

namespace kvq::app {

// The trace of one run's line: the tap the link thread records into, the
// writer thread that names the frames for a file named on the command line,
// and the dialog's last frames, which the tap's ring keeps as they crossed the
// line and which are named only when they are saved (no thread, and nothing
// done for them while the line runs).
class LineTrace {
public:
    // The dialog keeps this many frames for "Save Line Trace...".
    static constexpr std::size_t DialogFrames = 10000;
    // The tap's ring when frames are kept: 3.2 entries a frame for the frames
    // kept (an entry holds a run of up to 56 octets as it was written or
    // read, so a long frame or one read in pieces takes several), 96 bytes
    // each.
    static constexpr std::size_t EntriesPerKeptFrame10 = 32;  // tenths

    LineTrace() = default;
    ~LineTrace();
    LineTrace(const LineTrace&) = delete;
    LineTrace& operator=(const LineTrace&) = delete;

    // Before the link thread starts. filePath empty: no file; recentFrames 0:
    // none kept. False, with error saying why, when the file cannot be made
    // (nothing is traced then).
    bool Start(serial::SerialLine& line, const std::string& program, const std::string& filePath,
               std::size_t recentFrames, std::string& error);
    // After the link thread has ended: writes what is left, ends the writer
    // and takes the tap back from the line, which may outlive this trace (a
    // line handed in by a test).
    void Stop();
    bool Started() const { return tap_ != nullptr; }
    // After Stop: empty, or why the trace file is incomplete.
    std::string FileProblem() const { return file_.Problem(); }

    // The frames kept, named now and written to a file; false with error
    // saying why (also when none are kept).
    bool SaveRecent(const std::string& path, std::string& error) const;
    // What the link records into (none before Start), for a look at what it holds.
    const serial::LineTap* Tap() const { return tap_.get(); }

private:
    std::string program_;
    serial::SerialLine* line_ = nullptr;  // holds the tap until Stop
    std::size_t recentFrames_ = 0;
    std::unique_ptr<serial::LineTap> tap_;
    hdlc::TraceFileSink file_;
    std::unique_ptr<hdlc::TraceWriter> writer_;
};

}  // namespace kvq::app
