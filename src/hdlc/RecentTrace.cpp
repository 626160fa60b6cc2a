#include "hdlc/RecentTrace.h"

#include <fstream>

#include "core/Utf8Path.h"

namespace kvq::hdlc {

namespace {

bool IsOpen(const std::string& text, bool frame) {
    return !frame && text.find(" OPEN ") != std::string::npos;
}

}  // namespace

void RecentTrace::Forget(std::uint64_t frames, const std::string& openLine) {
    forgotten_ += frames;
    if (!openLine.empty()) openBefore_ = openLine;
    DropLeadingNonFrames();
}

// Once frames have gone, the opens and closes before the oldest frame kept go
// too; the latest open among them is said at the top instead.
void RecentTrace::DropLeadingNonFrames() {
    while (forgotten_ > 0 && !lines_.empty() && !lines_.front().second) {
        if (IsOpen(lines_.front().first, false)) openBefore_ = std::move(lines_.front().first);
        lines_.pop_front();
    }
}

void RecentTrace::Line(const std::string& text, bool frame) {
    lines_.emplace_back(text, frame);
    if (frame) ++frames_;
    // The oldest frames go once more are kept than asked for, with the opens
    // and closes before them.
    while (frames_ > limit_) {
        auto& [oldest, isFrame] = lines_.front();
        if (isFrame) {
            --frames_;
            ++forgotten_;
        } else if (IsOpen(oldest, isFrame)) {
            openBefore_ = std::move(oldest);
        }
        lines_.pop_front();
    }
    DropLeadingNonFrames();
}

std::vector<std::string> RecentTrace::Lines() const {
    std::vector<std::string> lines;
    lines.reserve(lines_.size() + 2);
    if (forgotten_ > 0) {
        if (!openBefore_.empty()) lines.push_back(openBefore_);
        lines.push_back("# " + std::to_string(forgotten_) + " earlier frames not kept");
    }
    for (const auto& [text, frame] : lines_)
        lines.push_back(text);
    return lines;
}

bool RecentTrace::Save(const std::string& path, const std::string& title,
                       std::string& error) const {
    std::ofstream file(core::PathFromUtf8(path), std::ios::out | std::ios::trunc);
    if (!file) {
        error = "cannot write the trace file " + path;
        return false;
    }
    file << title << '\n';
    for (const std::string& line : Lines())
        file << line << '\n';
    file.flush();
    if (!file) {
        error = "cannot write the trace file " + path;
        return false;
    }
    return true;
}

RecentTrace RecentFrames(const serial::LineTap& tap, bool primary, const InformationNamer& namer,
                         std::size_t frames) {
    const serial::TapHistory history = tap.History();
    RecentTrace recent(frames);
    TapDecoder decoder(primary, namer, [&recent](const std::string& text, bool frame) {
        recent.Line(text, frame);
    });
    decoder.Resume(history.sent, history.received);
    recent.Forget(history.linesForgotten,
                  history.openForgotten ? FormatOpened(*history.openForgotten) : std::string());
    for (const serial::TapEntry& entry : history.entries)
        decoder.Feed(entry);
    // A frame the forgotten entries began cannot be written whole: it counts
    // with those that went before (where the window, full whenever the tap
    // held enough, has put it anyway).
    recent.Forget(decoder.Cut());
    return recent;
}

}  // namespace kvq::hdlc
