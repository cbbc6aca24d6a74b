// The diagnostic trail: one English ASCII line per step of a run, for a support engineer who
// must tell why a machine did not update. The client sends it to the debugger's output
// (DebugView reads it); nothing is written to disk. Lines never hold key material, and
// addresses go through AddressForTrail, so no user name, password or query reaches it.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace sealupdate {

class Trail {
 public:
  using Sink = std::function<void(const std::string& line)>;
  Trail() = default;  // writes nowhere
  explicit Trail(Sink sink) : sink_(std::move(sink)) {}

  // Writes "sealupdate: " followed by the line.
  void Write(std::string_view line) const;

 private:
  Sink sink_;
};

// Text for a trail line: printable ASCII as it is, every other UTF-16 unit as \uXXXX.
std::string TrailText(std::u16string_view text);

// The address without user name, password, query or fragment, as TrailText.
std::string AddressForTrail(std::u16string_view url);

}  // namespace sealupdate
