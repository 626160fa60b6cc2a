#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "core/CommandBuffer.h"
#include "serial/InMemoryLine.h"
#include "sim/SimulatedActuator.h"
#include "sim/Vlx400Application.h"
#include "support/ToolUnderTest.h"

namespace kvq::testing {

namespace reliability {

// The sample table's AP1721-65-18: 0 to 10 degrees.
inline constexpr const char* ModelKey = "AP1721-65-18";
inline constexpr const char* ModelName = "Panel65-1710-2170-18dBi";

// A test's working directory, the simulated actuator, and the tool's core in
// this process talking to it. Every test ends with the workers joined within
// the close allowance.
class FaultTest : public ::testing::Test {
protected:
    void SetUp() override {
        directory = std::make_unique<WorkingDirectory>(
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        settings.serialNumber = "XXXT0004711";
        settings.softwareVersion = "01.23";
        settings.modelKey = ModelKey;
        settings.tilt = 20;
        // Fast moves and a short restart keep the scenarios short; neither
        // changes what the tool has to cope with.
        settings.tiltSpeed = 200;
        settings.restartSilence = std::chrono::milliseconds(3000);
        buffersBefore = core::LiveCommandBuffers();
    }
    void TearDown() override {
        StopTool();
        sim.reset();
        directory.reset();
    }

    // Ends the tool as the program ends: the workers joined within the close
    // allowance, and with them gone every command and reply block freed.
    void StopTool() {
        if (!tool) return;
        EXPECT_TRUE(tool->Stop()) << "a worker did not end within the close allowance";
        tool.reset();
        EXPECT_EQ(core::LiveCommandBuffers(), buffersBefore) << "command or reply blocks not freed";
    }

    // On the in-memory line, unless the test needs what only a real device
    // has (a name that outlives a stop and start of the simulator).
    void StartSimulator(sim::SimOptions options = {}) {
        application = std::make_shared<sim::Vlx400Application>(settings);
        const bool pseudoTerminal = !options.linkPath.empty();
        sim = std::make_unique<sim::SimulatedActuator>(options, application);
        if (pseudoTerminal) {
            ASSERT_TRUE(sim->Start()) << sim->Error();
        } else {
            line = std::make_unique<serial::InMemoryLine>();
            ASSERT_TRUE(sim->StartOnLine(*line)) << sim->Error();
        }
    }
    void StartTool(const std::string& port) {
        buffersBefore = core::LiveCommandBuffers();
        tool = std::make_unique<InProcessTool>(port);
        ASSERT_TRUE(tool->Prepared());
    }
    void StartTool() {
        if (!line) return StartTool(sim->DevicePath());
        buffersBefore = core::LiveCommandBuffers();
        tool = std::make_unique<InProcessTool>(line->ToolEnd());
        ASSERT_TRUE(tool->Prepared());
    }

    // A move that reached the ready state without a problem text and without
    // the device being lost on the way has the requested tilt, in the record
    // and in the actuator. Anything else must have been said.
    void ExpectNoFalseSuccess(const OperationTrace& trace, std::int32_t target,
                              const std::string& what) {
        EXPECT_NE(trace.outcome, WaitEnd::TimedOut) << what << ": neither ready nor failed";
        if (trace.outcome != WaitEnd::Ready) return;
        const actuator::DeviceSnapshot device = tool->Snapshot();
        EXPECT_EQ(device.currentTilt, application->State().currentTilt)
            << what << ": the record's tilt is not the actuator's";
        if (trace.lostOnTheWay || !device.problemText.empty()) return;
        EXPECT_EQ(device.currentTilt, target) << what << ": ready with another tilt";
        EXPECT_EQ(application->State().currentTilt, target) << what;
    }

    // Once the actuator behaves, a move goes through exactly.
    void ExpectAMoveGoesThrough(std::int32_t target, const std::string& what) {
        const auto trace = tool->SetTilt(target, std::chrono::seconds(20));
        EXPECT_EQ(trace.outcome, WaitEnd::Ready) << what << " (" << tool->Line1() << ")";
        EXPECT_FALSE(trace.lostOnTheWay) << what;
        EXPECT_EQ(tool->Snapshot().problemText, "") << what;
        EXPECT_EQ(tool->Snapshot().currentTilt, target) << what;
        EXPECT_EQ(application->State().currentTilt, target) << what;
    }

    std::unique_ptr<WorkingDirectory> directory;
    sim::Vlx400Settings settings;
    std::shared_ptr<sim::Vlx400Application> application;
    std::unique_ptr<serial::InMemoryLine> line;  // outlives the simulator and the tool on it
    std::unique_ptr<sim::SimulatedActuator> sim;
    std::unique_ptr<InProcessTool> tool;
    std::size_t buffersBefore = 0;  // live blocks before the tool started
};

}  // namespace reliability

}  // namespace kvq::testing
