// The machine's identity as Windows keeps it, for staged rollouts.
#pragma once

#include <string>

namespace sealupdate {

// MachineGuid under HKLM\SOFTWARE\Microsoft\Cryptography, always from the 64-bit view of the
// registry (a 32-bit process sees a redirected key without it); "" when there is none.
std::u16string ReadMachineGuid();

}  // namespace sealupdate
