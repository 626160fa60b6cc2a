#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "actuator/Controls.h"

namespace kvq::app {

// The dialog's two controls for a front end without a screen: they keep what
// they are told, so it can be printed and checked.

class HeadlessTiltSlider : public actuator::TiltSliderControl {
public:
    void SetRange(std::int32_t minimum, std::int32_t maximum) override {
        std::lock_guard lock(mutex_);
        minimum_ = minimum;
        maximum_ = maximum;
        ticks_.clear();
    }
    void AddTick(std::int32_t position) override {
        std::lock_guard lock(mutex_);
        ticks_.push_back(position);
    }
    void SetPosition(std::int32_t position) override { position_ = position; }
    std::int32_t Position() const override { return position_; }

    std::vector<std::int32_t> Ticks() const {
        std::lock_guard lock(mutex_);
        return ticks_;
    }
    std::pair<std::int32_t, std::int32_t> Range() const {
        std::lock_guard lock(mutex_);
        return {minimum_, maximum_};
    }

private:
    mutable std::mutex mutex_;
    std::int32_t minimum_ = 0;
    std::int32_t maximum_ = 0;
    std::vector<std::int32_t> ticks_;
    std::atomic<std::int32_t> position_{0};
};

class HeadlessModelList : public actuator::ModelListControl {
public:
    void AddModelName(std::string_view name) override {
        std::lock_guard lock(mutex_);
        const auto at = std::upper_bound(names_.begin(), names_.end(), name);
        names_.insert(at, std::string(name));
    }
    void SelectFirstEntry() override {
        std::lock_guard lock(mutex_);
        selected_ = names_.empty() ? -1 : 0;
    }
    void SelectModelName(std::string_view name) override {
        std::lock_guard lock(mutex_);
        const auto at = std::find(names_.begin(), names_.end(), name);
        if (at != names_.end()) selected_ = static_cast<int>(at - names_.begin());
    }

    std::vector<std::string> Names() const {
        std::lock_guard lock(mutex_);
        return names_;
    }
    std::string Selected() const {
        std::lock_guard lock(mutex_);
        return selected_ < 0 ? std::string() : names_[static_cast<std::size_t>(selected_)];
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> names_;
    int selected_ = -1;
};

}  // namespace kvq::app
