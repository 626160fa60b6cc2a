#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace kvq::actuator {

// The image of the actuator's four 32-byte data pages, read during identity
// reading, with a few fields this tool knows by position. Nothing sends it
// anywhere; it is kept with the device record.
class CManufacturingDataPage {
public:
    static constexpr std::size_t ImageSize = 132;
    static constexpr std::size_t PageSize = 32;
    static constexpr std::uint32_t ValidMark = 0x50C2B485;

    CManufacturingDataPage() { ResetPage(); }
    virtual ~CManufacturingDataPage() = default;

    // Writes the defaults of the known fields; other bytes keep what they hold.
    void ResetPage();
    // Page 0 to 3 at byte 32 * page; any other page number is ignored.
    void StoreDataPage(std::int32_t page, std::span<const std::uint8_t, PageSize> bytes);
    // The mark in bytes 4 to 7, least significant byte first.
    bool IsValid() const;
    std::uint16_t Counter(std::size_t byteOffset) const;
    void SetCounter(std::size_t byteOffset, std::uint16_t value);

    const std::array<std::uint8_t, ImageSize>& Image() const { return image_; }

private:
    std::array<std::uint8_t, ImageSize> image_{};
};

}  // namespace kvq::actuator
