#pragma once

#include <QComboBox>
#include <QSlider>
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string_view>

#include "actuator/Controls.h"

namespace kvq::ui {

// The dialog's slider and model list as the actuator thread drives them.
//
// Every call is handed to the UI thread through a mailbox and returns at once:
// the actuator thread never waits for the UI thread, so the UI thread may join
// the workers at any time (closing the dialog) without a deadlock. The
// mailbox is a child of its widget, so calls still waiting when the widget is
// destroyed go with it; Detach() makes later calls do nothing at all. A call
// made on the UI thread itself runs at once (after any that wait), so the
// antenna table loaded during the dialog's initialisation is in the list when
// the load returns.

// Calls for one widget, from any thread, run in order on the widget's thread.
class UiMailbox final : public QObject {
    Q_OBJECT

public:
    explicit UiMailbox(QWidget* widget);
    void Post(std::function<void()> call);

private:
    Q_INVOKABLE void Drain();

    std::mutex mutex_;  // the calls pass from thread to thread under it
    std::deque<std::function<void()>> calls_;
    bool drainQueued_ = false;
};

class QtTiltSlider final : public actuator::TiltSliderControl {
public:
    explicit QtTiltSlider(QSlider* slider);
    ~QtTiltSlider() override;
    QtTiltSlider(const QtTiltSlider&) = delete;
    QtTiltSlider& operator=(const QtTiltSlider&) = delete;

    void SetRange(std::int32_t minimum, std::int32_t maximum) override;
    void AddTick(std::int32_t position) override;
    void SetPosition(std::int32_t position) override;
    // The slider's position as last seen on the UI thread; never waits.
    std::int32_t Position() const override { return position_.load(); }

    void Detach();

private:
    void OnUiThread(std::function<void(QSlider&)> call);

    QSlider* const slider_;
    std::mutex mutex_;  // guards mailbox_ against Detach
    UiMailbox* mailbox_;
    std::atomic<std::int32_t> position_{0};
    QMetaObject::Connection mirror_;
};

class QtModelList final : public actuator::ModelListControl {
public:
    explicit QtModelList(QComboBox* combo);
    ~QtModelList() override;
    QtModelList(const QtModelList&) = delete;
    QtModelList& operator=(const QtModelList&) = delete;

    // Sorted as the platform's list sorts: ignoring case, a new text after the
    // equal ones.
    void AddModelName(std::string_view name) override;
    void SelectFirstEntry() override;
    void SelectModelName(std::string_view name) override;

    void Detach();

private:
    void OnUiThread(std::function<void(QComboBox&)> call);

    QComboBox* const combo_;
    std::mutex mutex_;  // guards mailbox_ against Detach
    UiMailbox* mailbox_;
};

}  // namespace kvq::ui
