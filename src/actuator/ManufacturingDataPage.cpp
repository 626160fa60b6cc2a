#include "actuator/ManufacturingDataPage.h"

#include <algorithm>

namespace kvq::actuator {

void CManufacturingDataPage::ResetPage() {
    const std::uint32_t mark = ValidMark;
    for (std::size_t i = 0; i < 4; ++i)
        image_[4 + i] = static_cast<std::uint8_t>(mark >> (8 * i));
    const char name[] = "None";  // with its terminating zero
    std::copy(name, name + sizeof name, image_.begin() + 8);
    std::fill(image_.begin() + 36, image_.begin() + 68, 0);    // four pairs of 32-bit values
    std::fill(image_.begin() + 116, image_.begin() + 132, 0);  // eight 16-bit counters
}

void CManufacturingDataPage::StoreDataPage(std::int32_t page,
                                           std::span<const std::uint8_t, PageSize> bytes) {
    if (page < 0 || page > 3) return;
    std::copy(bytes.begin(), bytes.end(), image_.begin() + page * static_cast<int>(PageSize));
}

bool CManufacturingDataPage::IsValid() const {
    std::uint32_t mark = 0;
    for (std::size_t i = 0; i < 4; ++i)
        mark |= std::uint32_t{image_[4 + i]} << (8 * i);
    return mark == ValidMark;
}

std::uint16_t CManufacturingDataPage::Counter(std::size_t byteOffset) const {
    if (byteOffset + 1 >= ImageSize) return 0;
    return static_cast<std::uint16_t>(image_[byteOffset] | (image_[byteOffset + 1] << 8));
}

void CManufacturingDataPage::SetCounter(std::size_t byteOffset, std::uint16_t value) {
    if (byteOffset + 1 >= ImageSize) return;
    image_[byteOffset] = static_cast<std::uint8_t>(value);
    image_[byteOffset + 1] = static_cast<std::uint8_t>(value >> 8);
}

}  // namespace kvq::actuator
