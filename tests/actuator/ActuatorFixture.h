#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "actuator/ActuatorThread.h"
#include "actuator/Commands.h"
#include "actuator/VLX400E.h"
#include "antenna/AntennaTable.h"
#include "antenna/AntennaTableFile.h"
#include "app/HeadlessControls.h"
#include "core/MainDataStore.h"
#include "support/ManualClock.h"

namespace kvq::actuator {

using Bytes = std::vector<std::uint8_t>;
using enum ActuatorState;

inline std::ostream& operator<<(std::ostream& out, ActuatorState state) {
    return out << static_cast<int>(state);
}
inline std::ostream& operator<<(std::ostream& out, FailCode code) {
    return out << static_cast<int>(code);
}

// Puts the record in the state a case starts from, as the sequences would
// have left it.
class ActuatorTestAccess {
public:
    template <class Change>
    static void Edit(CVLX400E& device, Change change) {
        device.Update(change);
    }
};

// One actuator record driven message by message: the link is a queue the test
// reads, time is a clock the test moves, and nothing waits for real time.
class ActuatorFixture : public ::testing::Test {
protected:
    void SetUp() override {
        core::CreateMessageQueue(link);
        device->SetAntennaTable(&table);
        device->SetLinkThread([this] { return link; });
        device->SetDeviceIndex(1);
        device->SetControls(&slider, &models);
        directory = std::filesystem::temp_directory_path() /
                    ("kvq-actuator-" + std::to_string(::getpid()) + "-" +
                     ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(directory);
        device->SetFirmwarePath(directory / "vlx400fw.bin");
    }
    void TearDown() override {
        core::DestroyMessageQueue(link);
        std::error_code ignored;
        std::filesystem::remove_all(directory, ignored);
    }

    // An antenna table of the given lines (after the header).
    void LoadTable(const std::string& records) {
        const auto path = directory / "models.ascu";
        std::ofstream(path) << "AT-VERSION\t1\n" << records;
        ASSERT_TRUE(antenna::LoadAntennaTableFile(path, table));
        antenna::AntennaRecord record;
        for (int i = 0; table.GetRecord(i, record); ++i)
            models.AddModelName(record.displayName);
    }

    // As the actuator thread takes a message: handled, then any pause it
    // started runs to its end before anything else is taken.
    void Post(std::uint32_t number, std::uintptr_t wParam = 0) {
        core::ThreadMessage message{number, wParam, nullptr};
        HandleActuatorMessage(*device, message);
        Settle();
    }
    void Deliver(core::CommandBufferPtr reply) {
        core::ThreadMessage message{core::MsgCommand, 0, std::move(reply)};
        HandleActuatorMessage(*device, message);
        Settle();
    }
    // Lets the pauses of the running step pass on the clock.
    void Settle() {
        while (const auto end = device->PauseEnd()) {
            clock.Set(*end);
            device->EndPause();
        }
    }
    DeviceSnapshot S() const { return device->Snapshot(); }
    template <class Change>
    void Edit(Change change) {
        ActuatorTestAccess::Edit(*device, change);
    }
    bool Overdue() const {
        return device->MsUntilReplyOverdue() == std::optional<std::uint32_t>(0);
    }

    // An Ericsson-mode reply as the link delivers it: payload at offset 5.
    static core::CommandBufferPtr Reply(std::uint32_t code, const Bytes& data = {},
                                        std::size_t size = 8) {
        auto buffer = core::NewCommandBuffer(0x14, 5);
        buffer->AppendBig32(0x12345678);
        buffer->AppendBig32(code);
        buffer->AppendBytes(data.data(), data.size());
        while (buffer->length < size)
            buffer->Append(0);
        return buffer;
    }
    static core::CommandBufferPtr Vendor(std::uint8_t sub, std::uint8_t status,
                                         const Bytes& data = {}) {
        Bytes all = {sub, status};
        all.insert(all.end(), data.begin(), data.end());
        return Reply(cmd::VendorCommand, all, 10);
    }
    // Text placed at a payload position, NUL-terminated.
    static core::CommandBufferPtr TextReply(std::uint32_t code, std::size_t at,
                                            const std::string& text) {
        Bytes data(at - 8, 0);
        data.insert(data.end(), text.begin(), text.end());
        data.push_back(0);
        return Reply(code, data);
    }
    static core::CommandBufferPtr TiltReply(std::uint16_t raw) {
        return Reply(cmd::GetTiltValue, {0x00, 0x01, std::uint8_t(raw >> 8), std::uint8_t(raw)});
    }
    // An AISG-mode reply: the raw field from offset 2.
    static core::CommandBufferPtr Raw(const Bytes& field) {
        auto buffer = core::NewCommandBuffer(0x14, 2);
        buffer->AppendBytes(field.data(), field.size());
        return buffer;
    }

    // What the record sent since the last look.
    struct Sent {
        std::uint32_t message;
        Bytes payload;
        std::uintptr_t wParam;
        std::optional<std::uint32_t> code() const { return cmd::Reply(payload).Code(); }
        std::optional<std::uint8_t> sub() const { return cmd::Reply(payload).Byte(8); }
    };
    std::vector<Sent> TakeSent() {
        std::vector<Sent> sent;
        core::ThreadMessage m;
        while (core::TakeMessage(link, m)) {
            Bytes payload;
            if (m.lParam) payload.assign(m.lParam->Valid(), m.lParam->Valid() + m.lParam->length);
            sent.push_back({m.number, payload, m.wParam});
        }
        return sent;
    }
    // The one command sent since the last look; fails the test otherwise.
    Sent One() {
        auto sent = TakeSent();
        EXPECT_EQ(sent.size(), 1u);
        return sent.empty() ? Sent{0, {}, 0} : sent.back();
    }

    testing::ManualClock clock{1000};
    testing::ScopedClock scopedClock{clock};
    core::CMainDataStore context;
    antenna::CAntennaTable table;
    CVLX400E actuator;
    app::HeadlessTiltSlider slider;
    app::HeadlessModelList models;
    core::ThreadId link = core::NewThreadId();
    CVLX400E* device = &actuator;
    std::filesystem::path directory;
};

}  // namespace kvq::actuator
