#pragma once
// The machine identifier sent as f0 with every statistics report: the network adapter
// address as 12 upper-case hexadecimal digits, "|", and the serial number of the first
// readable volume from C: on in upper-case hexadecimal (empty when no volume answers).
#include <string>

namespace velm {

std::wstring MachineId();

}  // namespace velm
