// Reading MachineGuid from the registry.
#include "platform/machine_guid.h"

#include "platform/win32.h"

namespace sealupdate {

std::u16string ReadMachineGuid() {
  HKEY opened = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Cryptography", 0,
                    KEY_QUERY_VALUE | KEY_WOW64_64KEY, &opened) != ERROR_SUCCESS) {
    return {};
  }
  const win::UniqueRegistryKey key(opened);
  wchar_t value[64] = {};
  DWORD type = 0;
  DWORD size = sizeof value - sizeof value[0];  // room for a terminator the value may lack
  if (RegQueryValueExW(key.get(), L"MachineGuid", nullptr, &type, reinterpret_cast<BYTE*>(value),
                       &size) != ERROR_SUCCESS ||
      type != REG_SZ) {
    return {};
  }
  return win::FromWide(value);  // zero-filled beyond what was read: terminated
}

}  // namespace sealupdate
