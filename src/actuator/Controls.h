#pragma once

#include <cstdint>
#include <string_view>

namespace kvq::actuator {

// The two dialog controls that the actuator thread drives. The desktop front
// end implements them by handing each call to its own thread; the headless
// front end and the tests use plain implementations.

class TiltSliderControl {
public:
    virtual ~TiltSliderControl() = default;
    // Range in tenths of a degree, without redrawing; removes the old ticks.
    virtual void SetRange(std::int32_t minimum, std::int32_t maximum) = 0;
    virtual void AddTick(std::int32_t position) = 0;
    // Moves the slider and redraws it.
    virtual void SetPosition(std::int32_t position) = 0;
    virtual std::int32_t Position() const = 0;
};

class ModelListControl {
public:
    virtual ~ModelListControl() = default;
    // The list keeps its entries sorted by text; equal texts appear twice.
    virtual void AddModelName(std::string_view name) = 0;
    virtual void SelectFirstEntry() = 0;
    // Selects the first entry whose text is exactly the name; none: no change.
    virtual void SelectModelName(std::string_view name) = 0;
};

}  // namespace kvq::actuator
