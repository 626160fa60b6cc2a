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

TapDecoder::TapDecoder(bool primary, InformationNamer namer, Emit emit)
    : primary_(primary),
      namer_(std::move(namer)),
      emit_(std::move(emit)),
      sent_(
          true,
          [this](TracedFrame&& frame) { emit_(FormatTracedFrame(frame, primary_, namer_), true); }),
      received_(false, [this](TracedFrame&& frame) {
          emit_(FormatTracedFrame(frame, primary_, namer_), true);
      }) {}

void TapDecoder::Feed(const serial::TapEntry& entry) {
    switch (entry.kind) {
        case serial::TapKind::Sent:
            sent_.Feed(entry);
            break;
        case serial::TapKind::Received:
            received_.Feed(entry);
            break;
        case serial::TapKind::Opened:
            Flush();
            emit_(FormatOpened(entry), false);
            break;
        case serial::TapKind::Closed:
            Flush();
            emit_(FormatClosed(entry), false);
            break;
    }
}

void TapDecoder::Lost(std::int64_t micros, std::uint64_t count) {
    // What was lost came before the oldest entry left; a frame half taken
    // before the loss cannot be finished.
    Flush();
    emit_(FormatDropped(micros, count), false);
}

void TapDecoder::Flush() {
    sent_.Flush();
    received_.Flush();
}

void TapDecoder::Resume(const serial::FrameSplitter& sent, const serial::FrameSplitter& received) {
    sent_.Resume(sent);
    received_.Resume(received);
}

TraceWriter::TraceWriter(serial::LineTap& tap, bool primary, InformationNamer namer,
                         std::chrono::milliseconds period)
    : tap_(tap),
      period_(period),
      decoder_(primary, std::move(namer), [this](const std::string& text, bool frame) {
          for (TraceSink* sink : sinks_)
              sink->Line(text, frame);
      }) {
    entries_.reserve(tap.Capacity());
}

TraceWriter::~TraceWriter() {
    Stop();
}

void TraceWriter::Start() {
    thread_ = std::thread([this] {
        bool busy = false;
        while (!tap_.Released()) {
            tap_.WaitForBatch(period_, busy);
            busy = Drain() > 0;
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

void TraceWriter::FlushStreams() {
    decoder_.Flush();
    for (TraceSink* sink : sinks_)
        sink->Flush();
}

std::size_t TraceWriter::Drain() {
    entries_.clear();
    const std::uint64_t dropped = tap_.Take(entries_);
    if (dropped > 0) decoder_.Lost(entries_.empty() ? 0 : entries_.front().micros, dropped);
    for (const serial::TapEntry& entry : entries_)
        decoder_.Feed(entry);
    // One flush a batch: the file keeps up with the line within the period.
    if (dropped > 0 || !entries_.empty()) {
        for (TraceSink* sink : sinks_)
            sink->Flush();
    }
    return entries_.size();
}

}  // namespace kvq::hdlc
