// Arbitrary UTF-16 text, then edits named from the input and the document: no crash, the stored
// form always holds, and a key written under names that cannot cut the document apart reads back.
#include <cstdlib>

#include "base/text.h"
#include "model/ini_document.h"

namespace sealupdate {

struct IniDocumentTestAccess {
  // Empty or framed by CR LF, with Text() the body inside; the lower-case copy current.
  static void Check(const IniDocument& ini) {
    const std::u16string& s = ini.text_;
    if (ini.lower_ != ToLowerUnits(s) ||
        !(s.empty() ||
          (s.size() >= 4 && s.compare(0, 2, u"\r\n") == 0 &&
           s.compare(s.size() - 2, 2, u"\r\n") == 0 && ini.Text() == s.substr(2, s.size() - 4)))) {
      std::abort();
    }
  }
};

}  // namespace sealupdate

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace sealupdate;
  std::u16string units(size / 2, u'\0');
  for (std::size_t i = 0; i < units.size(); ++i) units[i] = data[2 * i] | data[2 * i + 1] << 8;
  IniDocument ini(u"fuzz");
  ini.SetText(units);
  IniDocumentTestAccess::Check(ini);

  // Names: short slices of the input (they may hold CR LF, brackets, "=") and the document's.
  std::vector<std::u16string> names = ini.SectionNames();
  for (std::size_t at = 0; at <= units.size() && names.size() < 16; at += 7)
    names.push_back(units.substr(at, at < units.size() ? units[at] % 6 : 0));
  // Each input unit drives one operation; bounded so a run stays short.
  for (std::size_t i = 0; i < units.size() && i < 64; ++i) {
    const unsigned op = units[i] % 6;
    const std::u16string &app = names[(units[i] >> 3) % names.size()],
                         &key = names[(units[i] >> 8) % names.size()],
                         value = units.substr(i, units[i] % 5);
    if (op == 0) ini.KeyNames(app);
    if (op == 1 || op == 2) ini.SetKey(app, key, value);
    if (op == 3) ini.RemoveKey(app, key);
    if (op == 4) ini.RemoveSection(app);
    if (op == 5) ini.SetText(ini.Text());
    IniDocumentTestAccess::Check(ini);
    if ((op == 1 || op == 2) && !value.empty() && value.find(u"{#br}") == std::u16string::npos &&
        app.find_first_of(u"\r\n[]") == std::u16string::npos &&
        key.find_first_of(u"\r\n=[") == std::u16string::npos && !key.empty() &&
        key == TrimSpaces(key) && ini.GetKey(app, key, u"") != value) {
      std::abort();
    }
  }
  return 0;
}
