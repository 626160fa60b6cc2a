#include "app/LineTrace.h"

#include "actuator/TraceNames.h"
#include "hdlc/TraceDecoder.h"

namespace kvq::app {

LineTrace::~LineTrace() {
    // The line is not touched here: the process's own line is gone by now.
    if (writer_) writer_->Stop();
}

bool LineTrace::Start(serial::SerialLine& line, const std::string& program,
                      const std::string& filePath, std::size_t recentFrames, std::string& error) {
    if (writer_) return true;
    program_ = program;
    if (!filePath.empty() && !file_.Open(filePath, hdlc::TraceTitle(program), error)) return false;
    tap_ = std::make_unique<serial::LineTap>();
    writer_ = std::make_unique<hdlc::TraceWriter>(*tap_, true, actuator::CommandNamer());
    if (!filePath.empty()) writer_->AddSink(file_);
    if (recentFrames > 0) {
        recent_ = std::make_unique<hdlc::RecentTrace>(recentFrames);
        writer_->AddSink(*recent_);
    }
    line.SetTap(tap_.get());
    line_ = &line;
    writer_->Start();
    return true;
}

void LineTrace::Stop() {
    if (writer_) writer_->Stop();
    if (line_) line_->SetTap(nullptr);
    line_ = nullptr;
}

bool LineTrace::SaveRecent(const std::string& path, std::string& error) const {
    if (!recent_) {
        error = "no line trace is kept";
        return false;
    }
    return recent_->Save(path, hdlc::TraceTitle(program_), error);
}

}  // namespace kvq::app
