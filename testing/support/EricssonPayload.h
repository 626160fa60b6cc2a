#pragma once

// Ericsson-mode messages as the tests write them out by hand: the information
// field of an I-frame, octet by octet, independent of the code that builds it.

#include <cstdint>
#include <vector>

namespace kvq::testing {

// The information field: header (0xC0 from the tool, 0xC1 as the actuator
// answers), 0x00, the payload's length, then magic, code and parameters.
inline std::vector<std::uint8_t> EricssonInformation(std::uint8_t header, std::uint32_t code,
                                                     const std::vector<std::uint8_t>& parameters) {
    std::vector<std::uint8_t> information{
        header, 0x00, static_cast<std::uint8_t>(8 + parameters.size()), 0x12, 0x34, 0x56, 0x78};
    for (int shift = 24; shift >= 0; shift -= 8)
        information.push_back(static_cast<std::uint8_t>(code >> shift));
    information.insert(information.end(), parameters.begin(), parameters.end());
    return information;
}

}  // namespace kvq::testing
