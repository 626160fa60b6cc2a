#include "hdlc/TraceWriter.h"

#include <chrono>

#include "core/Utf8Path.h"

namespace kvq::hdlc {

bool TraceFileSink::Open(const std::string& path, const std::string& title, std::string& error) {
    file_.open(core::PathFromUtf8(path), std::ios::out | std::ios::trunc);
    if (!file_) {
        error = "cannot write the trace file " + path;
        return false;
    }
    file_ << title << '\n';
    file_.flush();
    if (!file_) {
        error = "cannot write the trace file " + path;
        file_.close();
        return false;
    }
    path_ = path;
    return true;
}

void TraceFileSink::Line(const std::string& text, bool) {
    file_ << text << '\n';
}

void TraceFileSink::Flush() {
    file_.flush();
    if (file_.is_open() && !file_) failed_ = true;
}

std::string TraceFileSink::Problem() const {
    if (!failed_) return {};
    return "the trace file " + path_ +
           " could not be written to the end: the frames after the failure are missing";
}

void RecentTrace::Line(const std::string& text, bool frame) {
    const std::lock_guard lock(mutex_);
    if (text.find(" OPEN ") != std::string::npos && !frame) lastOpen_ = text;
    lines_.emplace_back(text, frame);
    if (frame) ++frames_;
    // The oldest frames go once more are kept than asked for, with the opens
    // and closes before them.
    while (frames_ > limit_) {
        if (lines_.front().second) {
            --frames_;
            ++forgotten_;
        }
        lines_.pop_front();
    }
    while (forgotten_ > 0 && !lines_.empty() && !lines_.front().second)
        lines_.pop_front();
}

std::vector<std::string> RecentTrace::Lines() const {
    const std::lock_guard lock(mutex_);
    std::vector<std::string> lines;
    lines.reserve(lines_.size() + 2);
    if (forgotten_ > 0) {
        if (!lastOpen_.empty() && (lines_.empty() || lines_.front().first != lastOpen_))
            lines.push_back(lastOpen_);
        lines.push_back("# " + std::to_string(forgotten_) + " earlier frames not kept");
    }
    for (const auto& [text, frame] : lines_)
        lines.push_back(text);
    return lines;
}

std::uint64_t RecentTrace::FramesForgotten() const {
    const std::lock_guard lock(mutex_);
    return forgotten_;
}

bool RecentTrace::Save(const std::string& path, const std::string& title,
                       std::string& error) const {
    const std::vector<std::string> lines = Lines();
    std::ofstream file(core::PathFromUtf8(path), std::ios::out | std::ios::trunc);
    if (!file) {
        error = "cannot write the trace file " + path;
        return false;
    }
    file << title << '\n';
    for (const std::string& line : lines)
        file << line << '\n';
    file.flush();
    if (!file) {
        error = "cannot write the trace file " + path;
        return false;
    }
    return true;
}

TraceWriter::TraceWriter(serial::LineTap& tap, bool primary, InformationNamer namer)
    : tap_(tap),
      primary_(primary),
      namer_(std::move(namer)),
      sent_(
          true,
          [this](TracedFrame&& frame) { Emit(FormatTracedFrame(frame, primary_, namer_), true); }),
      received_(false, [this](TracedFrame&& frame) {
          Emit(FormatTracedFrame(frame, primary_, namer_), true);
      }) {
    entries_.reserve(tap.Capacity());
}

TraceWriter::~TraceWriter() {
    Stop();
}

void TraceWriter::Start() {
    thread_ = std::thread([this] {
        while (!tap_.Released()) {
            tap_.WaitForEntries(std::chrono::seconds(1));
            Drain();
        }
        Drain();
        FlushStreams();
    });
}

void TraceWriter::Stop() {
    if (stopped_) return;
    stopped_ = true;
    tap_.Release();
    if (thread_.joinable()) {
        thread_.join();
    } else {
        Drain();
        FlushStreams();
    }
}

void TraceWriter::Emit(const std::string& text, bool frame) {
    for (TraceSink* sink : sinks_)
        sink->Line(text, frame);
}

void TraceWriter::FlushStreams() {
    sent_.Flush();
    received_.Flush();
    for (TraceSink* sink : sinks_)
        sink->Flush();
}

void TraceWriter::Drain() {
    entries_.clear();
    const std::uint64_t dropped = tap_.Take(entries_);
    if (dropped > 0) {
        // What was lost came before the oldest entry left; a frame half taken
        // before the loss cannot be finished.
        sent_.Flush();
        received_.Flush();
        Emit(FormatDropped(entries_.empty() ? 0 : entries_.front().micros, dropped), false);
    }
    for (const serial::TapEntry& entry : entries_) {
        switch (entry.kind) {
            case serial::TapKind::Sent:
                sent_.Feed(entry);
                break;
            case serial::TapKind::Received:
                received_.Feed(entry);
                break;
            case serial::TapKind::Opened:
                sent_.Flush();
                received_.Flush();
                Emit(FormatOpened(entry), false);
                break;
            case serial::TapKind::Closed:
                sent_.Flush();
                received_.Flush();
                Emit(FormatClosed(entry), false);
                break;
        }
    }
    for (TraceSink* sink : sinks_)
        sink->Flush();
}

}  // namespace kvq::hdlc
