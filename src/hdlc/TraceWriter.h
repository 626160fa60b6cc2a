#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "hdlc/TraceDecoder.h"
#include "serial/LineTap.h"

namespace kvq::hdlc {

// Where the lines of a trace go. Called on the writer's thread only.
class TraceSink {
public:
    virtual ~TraceSink() = default;
    // frame: the line names a frame (or stray octets), not an open, a close or a loss.
    virtual void Line(const std::string& text, bool frame) = 0;
    // Every line taken so far has been handed over.
    virtual void Flush() {}
};

// A trace file: a title line, then every line as it comes, flushed after
// each batch so the file keeps up with the line.
class TraceFileSink final : public TraceSink {
public:
    // False, with error saying why, when the file cannot be made.
    bool Open(const std::string& path, const std::string& title, std::string& error);
    void Line(const std::string& text, bool frame) override;
    void Flush() override;
    // Empty while every line has been written; once one could not be (a full
    // disk, a mount gone), the sentence that says the trace is incomplete.
    std::string Problem() const;

private:
    std::ofstream file_;
    std::string path_;
    std::atomic<bool> failed_{false};
};

// The last so many frames, kept in memory for a save on request (the
// dialog's). Its lines are read by other threads.
class RecentTrace final : public TraceSink {
public:
    explicit RecentTrace(std::size_t frames = 10000) : limit_(frames) {}
    void Line(const std::string& text, bool frame) override;

    // Writes the kept lines to a file: a title, the open that began what is
    // kept when it has gone out of the window, how many frames went before.
    bool Save(const std::string& path, const std::string& title, std::string& error) const;
    std::vector<std::string> Lines() const;
    std::uint64_t FramesForgotten() const;

private:
    const std::size_t limit_;
    mutable std::mutex mutex_;
    std::deque<std::pair<std::string, bool>> lines_;
    std::size_t frames_ = 0;
    std::uint64_t forgotten_ = 0;
    std::string lastOpen_;  // the latest OPEN line, also once it has left the window
};

// The trace's own thread: it takes what the tap recorded, splits each
// direction into frames, names them and hands the lines to its sinks. The
// line's thread never waits for it.
class TraceWriter {
public:
    // primary: this end is the primary station (the tool); else the secondary.
    TraceWriter(serial::LineTap& tap, bool primary, InformationNamer namer);
    ~TraceWriter();
    TraceWriter(const TraceWriter&) = delete;
    TraceWriter& operator=(const TraceWriter&) = delete;

    // Before Start; the sink must outlive the writer, or at least its Stop.
    void AddSink(TraceSink& sink) { sinks_.push_back(&sink); }
    void Start();
    // Writes what is left (frames not yet ended as they stand) and ends the
    // thread. Only the first call does so: after it the sinks are not touched
    // again, not even by the writer's end.
    void Stop();
    // Takes and writes what the tap holds now, on the caller's thread (when
    // no thread was started).
    void Drain();
    // Ends a frame not yet ended, as it stands.
    void FlushStreams();

private:
    void Emit(const std::string& text, bool frame);

    serial::LineTap& tap_;
    bool primary_;
    InformationNamer namer_;
    std::vector<TraceSink*> sinks_;
    std::vector<serial::TapEntry> entries_;
    TraceStream sent_;
    TraceStream received_;
    std::thread thread_;
    bool stopped_ = false;
};

}  // namespace kvq::hdlc
