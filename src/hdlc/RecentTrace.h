#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "hdlc/TraceDecoder.h"
#include "hdlc/TraceWriter.h"
#include "serial/LineTap.h"

namespace kvq::hdlc {

// The last so many frames of a trace, for a save on request (the dialog's):
// the frames and the opens and closes among them, the open the oldest of them
// began under, and how many frames went before.
class RecentTrace final : public TraceSink {
public:
    explicit RecentTrace(std::size_t frames = 10000) : limit_(frames) {}
    void Line(const std::string& text, bool frame) override;
    // Frames that went unkept, and the open line they left under (empty:
    // the one known so far): before any line, those that went before what
    // comes; after, a frame whose start was gone.
    void Forget(std::uint64_t frames, const std::string& openLine = {});

    // Writes the kept lines to a file: a title, the open that began what is
    // kept when it has gone out of the window, how many frames went before.
    bool Save(const std::string& path, const std::string& title, std::string& error) const;
    std::vector<std::string> Lines() const;
    std::uint64_t FramesForgotten() const { return forgotten_; }

private:
    void DropLeadingNonFrames();

    const std::size_t limit_;
    std::deque<std::pair<std::string, bool>> lines_;
    std::size_t frames_ = 0;
    std::uint64_t forgotten_ = 0;
    std::string openBefore_;  // the latest OPEN line that has left the window
};

// The last frames among what the tap still holds, named as its writer names
// them: decoded now, on the caller's thread, so that keeping them costs the
// line nothing but the tap's ring. The tap must hold enough entries for them;
// the frames it has forgotten are counted all the same.
RecentTrace RecentFrames(const serial::LineTap& tap, bool primary, const InformationNamer& namer,
                         std::size_t frames);

}  // namespace kvq::hdlc
