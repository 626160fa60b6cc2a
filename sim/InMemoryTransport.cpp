#include "sim/SimTransport.h"

using namespace kvq::serial;

namespace kvq::sim {

namespace {

class FarEndTransport final : public SimTransport {
public:
    explicit FarEndTransport(InMemoryLine::FarEnd& far) : far_(far) {}

    bool WaitInput(std::chrono::milliseconds timeout) override {
        return far_.Wait(timeout) == LineEvent::Input;
    }
    std::size_t Read(std::span<std::uint8_t> into) override { return far_.Read(into); }
    // Paced octets carry the time they arrive; nobody sleeps per octet.
    bool Write(std::span<const std::uint8_t> line, std::uint32_t baudRate, bool pace,
               const std::atomic<bool>& stop) override {
        if (stop) return false;
        far_.Write(line, pace ? baudRate : 0);
        return true;
    }
    std::optional<std::uint32_t> ToolBaudRate() const override {
        return static_cast<std::uint32_t>(far_.ToolBaudRate());
    }
    void Wake() override { far_.Wake(); }

private:
    InMemoryLine::FarEnd& far_;
};

}  // namespace

std::unique_ptr<SimTransport> InMemoryTransport(InMemoryLine::FarEnd& far) {
    return std::make_unique<FarEndTransport>(far);
}

}  // namespace kvq::sim
