#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <functional>
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

// Names what a tap recorded, entry by entry in order, and hands each line on:
// the writer's thread does it as the line goes, a save of what the tap still
// holds does it at once.
class TapDecoder {
public:
    // frame: the line names a frame (or stray octets), not an open, a close or a loss.
    using Emit = std::function<void(const std::string& text, bool frame)>;

    // primary: this end is the primary station (the tool); else the secondary.
    TapDecoder(bool primary, InformationNamer namer, Emit emit);
    TapDecoder(const TapDecoder&) = delete;
    TapDecoder& operator=(const TapDecoder&) = delete;

    void Feed(const serial::TapEntry& entry);
    // count entries went before micros unread: what was begun cannot be
    // finished, and the loss is said.
    void Lost(std::int64_t micros, std::uint64_t count);
    // Ends the frames not yet ended, as they stand.
    void Flush();
    // Goes on from where the entries a tap forgot left each direction; a line
    // they began is counted in Cut when it ends, not written.
    void Resume(const serial::FrameSplitter& sent, const serial::FrameSplitter& received);
    std::size_t Cut() const { return sent_.Cut() + received_.Cut(); }

private:
    bool primary_;
    InformationNamer namer_;
    Emit emit_;
    TraceStream sent_;
    TraceStream received_;
};

// The trace's own thread: it takes what the tap recorded in batches, splits
// each direction into frames, names them and hands the lines to its sinks.
// The line's thread never waits for it, and it wakes once a batching period
// while the line is busy (sooner when the tap fills up), not for every frame.
class TraceWriter {
public:
    // What the writer lets gather before it writes: a file keeps up with the
    // line within this.
    static constexpr std::chrono::milliseconds BatchPeriod{250};

    // primary: this end is the primary station (the tool); else the secondary.
    TraceWriter(serial::LineTap& tap, bool primary, InformationNamer namer,
                std::chrono::milliseconds period = BatchPeriod);
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
    // no thread was started); answers how many entries it took.
    std::size_t Drain();
    // Ends a frame not yet ended, as it stands.
    void FlushStreams();

private:
    serial::LineTap& tap_;
    const std::chrono::milliseconds period_;
    std::vector<TraceSink*> sinks_;
    std::vector<serial::TapEntry> entries_;
    TapDecoder decoder_;
    std::thread thread_;
    bool stopped_ = false;
};

}  // namespace kvq::hdlc
