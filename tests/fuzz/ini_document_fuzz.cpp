// Feeds arbitrary UTF-16 text to the INI store, then edits it with names taken from the input
// and from the document itself. Nothing may crash and the stored form must always hold.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/text.h"
#include "model/ini_document.h"

namespace sealupdate {

struct IniDocumentTestAccess {
  static const std::u16string& Stored(const IniDocument& ini) { return ini.text_; }
  static const std::u16string& Lower(const IniDocument& ini) { return ini.lower_; }
};

namespace {

void CheckStoredForm(const IniDocument& ini) {
  const std::u16string& s = IniDocumentTestAccess::Stored(ini);
  if (IniDocumentTestAccess::Lower(ini) != ToLowerUnits(s)) std::abort();
  if (s.empty()) return;
  if (s.size() < 4 || s.compare(0, 2, u"\r\n") != 0 || s.compare(s.size() - 2, 2, u"\r\n") != 0) {
    std::abort();
  }
  // Text shows the body between the two outer line breaks.
  if (ini.Text() != (s.size() > 4 ? s.substr(2, s.size() - 4) : std::u16string())) std::abort();
}

}  // namespace
}  // namespace sealupdate

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace sealupdate;
  std::u16string units(size / 2, u'\0');
  for (size_t i = 0; i < units.size(); ++i) {
    units[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  }

  IniDocument ini(u"fuzz");
  ini.SetAutoSave(false);
  ini.SetText(units);
  CheckStoredForm(ini);

  // Names: short slices of the input (they may hold CR LF, brackets, "=") and the names the
  // document itself holds.
  std::vector<std::u16string> names;
  for (size_t start = 0; start < units.size() && names.size() < 8; start += 7) {
    names.push_back(units.substr(start, units[start] % 6));
  }
  for (const auto& app : ini.SectionNames()) {
    names.push_back(app);
    for (const auto& key : ini.KeyNames(app)) names.push_back(key);
    if (names.size() > 24) break;
  }
  if (names.empty()) names.emplace_back();

  // Each input unit drives one operation; bounded so a run stays short.
  const size_t steps = units.size() < 64 ? units.size() : 64;
  for (size_t i = 0; i < steps; ++i) {
    const unsigned op = units[i] % 7;
    const std::u16string& app = names[(units[i] >> 3) % names.size()];
    const std::u16string& key = names[(units[i] >> 8) % names.size()];
    const std::u16string value = units.substr(i, units[i] % 5);
    if (op == 0) ini.GetKey(app, key, u"d");
    if (op == 1 || op == 2) ini.SetKey(app, key, value);
    if (op == 3) ini.RemoveKey(app, key);
    if (op == 4) ini.RemoveSection(app);
    if (op == 5) ini.KeyNames(app);
    if (op == 5) ini.SectionNames();
    if (op == 6) ini.SetText(ini.Text());
    CheckStoredForm(ini);
    // A written key reads back when its names cannot cut the document apart.
    if ((op == 1 || op == 2) && !value.empty() && value.find(u"{#br}") == std::u16string::npos &&
        app.find_first_of(u"\r\n[]") == std::u16string::npos &&
        key.find_first_of(u"\r\n=[") == std::u16string::npos && key == TrimSpaces(key) &&
        !key.empty() && ini.GetKey(app, key, u"") != value) {
      std::abort();
    }
  }
  return 0;
}
