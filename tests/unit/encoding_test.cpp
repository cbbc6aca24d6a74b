// Base64 and hexadecimal text as documents and keys carry them.
#include "base/encoding.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace sealupdate {
namespace {

TEST(Base64, EncodesAndDecodesOnlyCanonicalText) {
  for (const auto& [bytes, text] : {std::pair<std::string, std::string>{"", ""},
                                    {"f", "Zg=="},
                                    {"fo", "Zm8="},
                                    {"foo", "Zm9v"},
                                    {"\xFF\xFE\xFD", "//79"}}) {
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    EXPECT_EQ(Base64Encode(data, bytes.size()), text);
    EXPECT_EQ(Base64Decode(text), std::vector<std::uint8_t>(data, data + bytes.size()));
  }
  for (const char* bad : {"Zg", "Zg=", "Zh==", "Zm9=", "Z===", "Zg==Zg==", "Zm 9v", "Zm9v\n",
                          "Zm-v", "=Zg=", "Zm9v===="}) {
    EXPECT_FALSE(Base64Decode(bad)) << bad;
  }
}

}  // namespace
}  // namespace sealupdate
