// The slider and the model list as the actuator thread drives them: calls
// from another thread arrive on the UI thread in order, never wait for it, and
// do no harm when the widgets go away in the middle of them.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QSlider>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "ui/QtControls.h"
#include "UiTestSupport.h"

using namespace kvq::ui;

namespace {

using std::chrono::milliseconds;

TEST(QtControlsTest, CallsFromAnotherThreadArriveInOrderWithoutWaiting) {
    QSlider slider(Qt::Vertical);
    QComboBox models;
    models.setEditable(true);
    QtTiltSlider sliderControl(&slider);
    QtModelList modelControl(&models);

    // On the UI thread the list is filled at once, sorted as the platform's
    // list sorts (ignoring case, equal names kept).
    for (const char* name : {"panel-b", "Panel-A", "Dual-C", "panel-b"})
        modelControl.AddModelName(name);
    ASSERT_EQ(models.count(), 4);
    EXPECT_EQ(models.itemText(0), "Dual-C");
    EXPECT_EQ(models.itemText(1), "Panel-A");
    EXPECT_EQ(models.itemText(2), "panel-b");
    EXPECT_EQ(models.itemText(3), "panel-b");
    modelControl.SelectFirstEntry();
    EXPECT_EQ(models.currentText(), "Dual-C");

    // From another thread: nothing happens until the UI thread runs its events,
    // and the caller does not wait for that.
    std::thread actuator([&] {
        sliderControl.SetRange(-25, 100);
        for (int tick = -25; tick <= 100; tick += 10)
            sliderControl.AddTick(tick);
        sliderControl.SetPosition(65);
        modelControl.SelectModelName("Panel-A");
        modelControl.SelectModelName("panel-a");  // no exact match: no change
    });
    actuator.join();
    EXPECT_EQ(slider.maximum(), 99) << "not applied before the UI thread ran";
    EXPECT_EQ(sliderControl.Position(), 0);

    Pump(milliseconds(50));
    EXPECT_EQ(slider.minimum(), -25);
    EXPECT_EQ(slider.maximum(), 100);
    EXPECT_EQ(slider.tickInterval(), 10);
    EXPECT_EQ(slider.value(), 65);
    EXPECT_EQ(sliderControl.Position(), 65) << "the mirror follows the slider";
    EXPECT_EQ(models.currentText(), "Panel-A");

    // The user's own moves show in the mirror too.
    slider.setValue(-10);
    EXPECT_EQ(sliderControl.Position(), -10);
    // Selecting an entry puts its text back over whatever was typed.
    models.setEditText("typed");
    modelControl.SelectModelName("Panel-A");
    EXPECT_EQ(models.currentText(), "Panel-A");
}

// A name wider than the field shows its start, not its end (it was clipped on
// the left while the first entry, the longest of the sample, was selected).
TEST(QtControlsTest, ASelectedNameShowsItsStart) {
    QComboBox models;
    models.setEditable(true);
    models.resize(60, 24);
    QtModelList modelControl(&models);
    modelControl.AddModelName("DualBand65-790-2690-17dBi");
    modelControl.AddModelName("Panel65-790-960-15dBi");
    modelControl.SelectFirstEntry();
    EXPECT_EQ(models.currentText(), "DualBand65-790-2690-17dBi");
    EXPECT_EQ(models.lineEdit()->cursorPosition(), 0);
    modelControl.SelectModelName("Panel65-790-960-15dBi");
    EXPECT_EQ(models.lineEdit()->cursorPosition(), 0);
}

TEST(QtControlsTest, ClosingWhileTheActuatorThreadUpdatesNeitherBlocksNorCrashes) {
    for (int round = 0; round < 20; ++round) {
        auto slider = std::make_unique<QSlider>(Qt::Vertical);
        auto models = std::make_unique<QComboBox>();
        auto sliderControl = std::make_unique<QtTiltSlider>(slider.get());
        auto modelControl = std::make_unique<QtModelList>(models.get());
        models->addItem("Panel-A");

        std::atomic<bool> stop{false};
        std::atomic<int> calls{0};
        std::atomic<int> seen{-1};
        std::thread actuator([&] {
            while (!stop.load()) {
                sliderControl->SetRange(0, 100);
                sliderControl->AddTick(0);
                sliderControl->AddTick(10);
                sliderControl->SetPosition(calls.load() % 100);
                modelControl->SelectModelName("Panel-A");
                seen.store(sliderControl->Position());
                ++calls;
            }
        });
        // The UI thread handles some of it, then the window goes while calls
        // are still queued and still coming.
        WaitFor([&] { return calls.load() > 50; }, milliseconds(2000));
        Pump(milliseconds(2));
        sliderControl->Detach();
        modelControl->Detach();
        slider.reset();
        models.reset();
        Pump(milliseconds(5));  // queued calls for the dead widgets are dropped
        stop.store(true);
        actuator.join();
        EXPECT_GT(calls.load(), 50);
        EXPECT_GE(seen.load(), 0);
    }
}

}  // namespace
