// Entry point of sealupdate-tool.
#include <iostream>
#include <string>
#include <vector>

#include "commands.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <stdlib.h>

#include "base/text.h"

// Arguments arrive as UTF-16 and are handed on as UTF-8, so Chinese paths survive any code page.
int wmain(int argc, wchar_t** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    const std::wstring_view w(argv[i]);
    args.push_back(sealupdate::Utf16ToUtf8(std::u16string(w.begin(), w.end())));
  }
  return sealupdate::tool::RunGuarded(args, std::cout, std::cerr);
}
#else
int main(int argc, char** argv) {
  return sealupdate::tool::RunGuarded(std::vector<std::string>(argv + 1, argv + argc), std::cout,
                                      std::cerr);
}
#endif
