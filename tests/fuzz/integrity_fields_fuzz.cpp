// The Size, SHA256 and Expires parsers: a value is taken only in its exact form (it reads back
// as written), and a field present in any other form, empty included, refuses the document.
#include <cctype>
#include <cstdlib>
#include <ctime>

#include "base/encoding.h"
#include "base/text.h"
#include "model/update_document.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace sealupdate;
  const std::string value(reinterpret_cast<const char*>(data), size);
  if (value.find_first_of("\r\n") != std::string::npos) return 0;
  std::string trimmed = Utf16ToUtf8(TrimSpaces(Utf8ToUtf16(value)));
  for (const char* field : {"Size", "SHA256", "Expires"}) {
    const auto document = ParseUpdateDocument("\xEF\xBB\xBF[UpdateInfo]\r\nVersion=1\r\n" +
                                              std::string(field) + "=" + value + "\r\n");
    if (!document) std::abort();
    const bool taken = document->packageSize || document->packageSha256 || document->expires;
    if (taken == !document->malformedField.empty()) std::abort();  // taken, or named as malformed
    bool exact = true;
    if (document->packageSize) {
      exact = trimmed.find_first_not_of("0123456789") == std::string::npos &&
              std::stoull(trimmed) == *document->packageSize;
    } else if (document->packageSha256) {
      std::string lower = trimmed;
      for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      exact = HexEncode(document->packageSha256->data(), 32) == lower;
    } else if (document->expires) {
      const std::time_t t = static_cast<std::time_t>(*document->expires);
      char text[32] = "";
      const std::tm* utc = std::gmtime(&t);
      exact = utc && std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", utc) && trimmed == text;
    }
    if (!exact) std::abort();
  }
  return 0;
}
