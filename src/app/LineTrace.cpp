#include "app/LineTrace.h"

#include "actuator/TraceNames.h"
#include "hdlc/RecentTrace.h"
#include "hdlc/TraceDecoder.h"

namespace kvq::app {

LineTrace::~LineTrace() {
    // The line is not touched here: the process's own line is gone by now.
    if (writer_) writer_->Stop();
}

bool LineTrace::Start(serial::SerialLine& line, const std::string& program,
                      const std::string& filePath, std::size_t recentFrames, std::string& error) {
    if (tap_) return true;
    program_ = program;
    if (!filePath.empty() && !file_.Open(filePath, hdlc::TraceTitle(program), error)) return false;
    recentFrames_ = recentFrames;
    tap_ = recentFrames > 0
               ? std::make_unique<serial::LineTap>(recentFrames * EntriesPerKeptFrame10 / 10)
               : std::make_unique<serial::LineTap>();
    if (!filePath.empty()) {
        writer_ = std::make_unique<hdlc::TraceWriter>(*tap_, true, actuator::CommandNamer());
        writer_->AddSink(file_);
        writer_->Start();
    }
    line.SetTap(tap_.get());
    line_ = &line;
    return true;
}

void LineTrace::Stop() {
    if (writer_) writer_->Stop();
    if (line_) line_->SetTap(nullptr);
    line_ = nullptr;
}

bool LineTrace::SaveRecent(const std::string& path, std::string& error) const {
    if (!tap_ || recentFrames_ == 0) {
        error = "no line trace is kept";
        return false;
    }
    return hdlc::RecentFrames(*tap_, true, actuator::CommandNamer(), recentFrames_)
        .Save(path, hdlc::TraceTitle(program_), error);
}

}  // namespace kvq::app
