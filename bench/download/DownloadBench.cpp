// How long a firmware download takes, block by block, against the floor the
// protocol allows: per block, the I-frame and its answer at wire speed plus
// the 20 ms the poll cycle keeps between an answer and the next poll.
//
//   kvq_download_bench [--size BYTES] [--runs N]      default 65536 bytes, 3 runs
//
// The simulated actuator paces its answers at 115200 baud; the tool's frames
// reach it through a pseudo-terminal at once. So two floors are given: the
// wire floor (both directions at 115200) and the line floor (only what this
// line paces: the answer, and the 20 ms). The ratio that matters here is the
// measured time over the line floor.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "hdlc/FrameCodec.h"
#include "sim/SimulatedActuator.h"
#include "support/ToolUnderTest.h"
#include "sim/Vlx400Application.h"
#include "sim/Vlx400Protocol.h"

using namespace kvq::hdlc;
using namespace kvq::actuator;
using namespace kvq::sim;
using namespace kvq::testing;

using namespace kvq::testing::reliability;
namespace hdlc = kvq::hdlc;
using std::chrono::duration;
using std::chrono::milliseconds;
using std::chrono::seconds;
using Bytes = std::vector<std::uint8_t>;

namespace {

constexpr double Baud = 115200.0;
constexpr double BitsPerOctet = 10.0;  // start, 8 data, stop
constexpr double PollGapSeconds = 0.020;
constexpr std::uint8_t BlockSubCommand = 0x12;

double WireSeconds(const Bytes& body) {
    hdlc::FrameBytes frame;
    hdlc::EncodeFrame(body, frame);
    return static_cast<double>(frame.size()) * BitsPerOctet / Baud;
}

void PutBig32(Bytes& bytes, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        bytes.push_back(static_cast<std::uint8_t>(value >> shift));
}

// A download block as the tool sends it: address, control, the Ericsson
// header, magic, the vendor code and the block's sub-command.
bool IsBlock(const ReceivedFrame& frame) {
    const Bytes& b = frame.body;
    if (!frame.heard || b.size() < 14 || !hdlc::IsIFrame(b[1])) return false;
    const std::uint32_t code = (std::uint32_t{b[9]} << 24) | (std::uint32_t{b[10]} << 16) |
                               (std::uint32_t{b[11]} << 8) | b[12];
    return code == vlx::VendorCommand && b[13] == BlockSubCommand;
}

// The actuator's answer to a block, numbered as it answers that frame.
Bytes AnswerTo(const Bytes& block) {
    const std::uint8_t ns = hdlc::NrOf(block[1]);
    const std::uint8_t nr = static_cast<std::uint8_t>((hdlc::NsOf(block[1]) + 1) & 7);
    Bytes payload;
    PutBig32(payload, vlx::Magic);
    PutBig32(payload, vlx::VendorCommand);
    payload.push_back(BlockSubCommand);
    payload.push_back(0x00);
    Bytes answer{block[0], hdlc::IControl(ns, nr), 0xC0, 0x00,
                 static_cast<std::uint8_t>(payload.size())};
    answer.insert(answer.end(), payload.begin(), payload.end());
    return answer;
}

struct Run {
    std::size_t blocks = 0;
    double measured = 0;   // from the first block's arrival to the last's
    double wireFloor = 0;  // for the same stretch
    double lineFloor = 0;
    bool ready = false;
    bool versionTaken = false;
};

Run Download(std::size_t size, int index) {
    Run run;
    WorkingDirectory directory("download-bench-" + std::to_string(index));
    directory.WriteFirmware("02.00", size - 10);
    Vlx400Settings settings;
    settings.serialNumber = "XXXT0000042";
    settings.softwareVersion = "01.23";
    settings.modelKey = "AP1721-65-18";
    settings.restartSilence = milliseconds(3000);
    auto application = std::make_shared<Vlx400Application>(settings);
    SimOptions options;
    options.pace = true;
    options.logLimit = 1 << 20;
    SimulatedActuator sim(options, application);
    if (!sim.Start()) {
        std::fprintf(stderr, "download bench: %s\n", sim.Error().c_str());
        std::exit(2);
    }
    {
        InProcessTool tool(sim.DevicePath());
        if (!tool.Prepared()) {
            std::fprintf(stderr, "download bench: the tool did not start\n");
            std::exit(2);
        }
        // Identity reading finds the versions differ and downloads at once.
        run.ready = tool.WaitUntilReady(milliseconds(size / 56 * 200 + 60000)) == WaitEnd::Ready;
        run.versionTaken = tool.Snapshot().softwareVersion.rfind("02.00", 0) == 0;
        tool.Stop();
    }
    sim.Stop();

    std::vector<ReceivedFrame> blocks;
    for (auto& frame : sim.TakeReceivedLog()) {
        if (IsBlock(frame)) blocks.push_back(std::move(frame));
    }
    run.blocks = blocks.size();
    for (std::size_t i = 1; i < blocks.size(); ++i) {
        const double answer = WireSeconds(AnswerTo(blocks[i - 1].body));
        run.lineFloor += answer + PollGapSeconds;
        run.wireFloor += answer + PollGapSeconds + WireSeconds(blocks[i].body);
    }
    if (blocks.size() > 1) {
        run.measured = duration<double>(blocks.back().time - blocks.front().time).count();
    }
    return run;
}

}  // namespace

int main(int argc, char** argv) {
    std::size_t size = 65536;
    int runs = 3;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--size" && i + 1 < argc) {
            size = std::strtoul(argv[++i], nullptr, 10);
        } else if (arg == "--runs" && i + 1 < argc) {
            runs = std::atoi(argv[++i]);
        } else {
            std::fprintf(stderr, "usage: kvq_download_bench [--size BYTES] [--runs N]\n");
            return 2;
        }
    }
    if (size < 100 || size > (16u << 20) || runs < 1) {
        std::fprintf(stderr, "download bench: size from 100 bytes to 16 MiB, runs at least 1\n");
        return 2;
    }
    bool good = true;
    for (int i = 0; i < runs; ++i) {
        const Run r = Download(size, i);
        const bool complete = r.ready && r.versionTaken && r.blocks == (size + 55) / 56;
        good = good && complete;
        std::printf(
            "run %d: %zu blocks in %.2f s (%.1f ms each); line floor %.2f s, ratio %.3f; "
            "wire floor %.2f s, ratio %.3f; %s\n",
            i + 1, r.blocks, r.measured,
            r.blocks > 1 ? 1000.0 * r.measured / static_cast<double>(r.blocks - 1) : 0.0,
            r.lineFloor, r.lineFloor > 0 ? r.measured / r.lineFloor : 0.0, r.wireFloor,
            r.wireFloor > 0 ? r.measured / r.wireFloor : 0.0,
            complete ? "ready with the new version" : "INCOMPLETE");
    }
    return good ? 0 : 1;
}
