// One INI document held in memory as a single string.
//
// Stored form: empty, or CR LF + body + CR LF, the body's lines joined with CR LF and every
// section header but the first preceded by one empty line. Keeping a line break on both ends
// lets every header be found as CR LF "[" name "]" CR LF. Section and key names match without
// regard to letter case; a line break inside a value is stored as "{#br}". On disk the document
// is text in the ANSI code page.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sealupdate {

class IniDocument {
 public:
  // A document in memory only; `folder` resolves relative paths given to SetPath.
  IniDocument() = default;
  explicit IniDocument(std::u16string folder);

  // When true (off unless asked), every edit (SetKey, RemoveKey, RemoveSection) is followed by
  // Save(u"").
  bool AutoSave() const { return autoSave_; }
  void SetAutoSave(bool value) { autoSave_ = value; }

  // Setting resolves the path (relative to the client folder unless drive-absolute), keeps it
  // and loads the file; a short path, a folder path or an unreadable file loads nothing.
  std::u16string Path() const { return path_; }
  void SetPath(std::u16string_view value);

  // The body, without the outer line breaks. Setting normalizes the text and replaces the
  // document; empty or all-space text leaves the document as it is.
  std::u16string Text() const;
  void SetText(std::u16string_view value);

  // The value of a key with "{#br}" turned back into CR LF, or fallback when the section,
  // the key or its value is missing.
  std::u16string GetKey(std::u16string_view section, std::u16string_view key,
                        std::u16string_view fallback) const;
  // Writes a key, creating the section at the end when missing. An empty value writes nothing.
  void SetKey(std::u16string_view section, std::u16string_view key, std::u16string_view value);
  std::vector<std::u16string> KeyNames(std::u16string_view section) const;
  std::vector<std::u16string> SectionNames() const;
  void RemoveSection(std::u16string_view section);
  void RemoveKey(std::u16string_view section, std::u16string_view key);
  // Writes the body to `savePath`, or to Path when `savePath` is empty; false on any failure.
  bool Save(std::u16string_view savePath) const;

 private:
  friend struct IniDocumentTestAccess;

  struct Section {
    std::size_t start = 0;  // index of the "[" of the header in the stored text
    std::u16string text;    // header and body; ends with CR LF only for the last section
    std::optional<std::u16string> storedWithout;  // the stored text without it, when removing
  };
  struct KeyAccess {
    std::u16string value;                  // the value read (reading only)
    std::optional<std::u16string> stored;  // the edited stored text (writing or removing)
  };

  // Finds the first section of that name; with `remove` also computes the stored text without it.
  std::optional<Section> FindSection(std::u16string_view section, bool remove) const;
  // Reads (empty value), writes (non-empty value) or removes one key of a section.
  KeyAccess AccessKey(std::u16string_view section, std::u16string_view key,
                      std::u16string_view value, bool remove) const;
  static std::u16string NormalizeText(std::u16string_view text);

  void Store(std::u16string stored);
  void AutoSaveAfterEdit() const;

  std::u16string text_;   // stored form
  std::u16string lower_;  // text_ lower-cased unit by unit: positions match text_
  std::u16string path_;
  std::u16string folder_;
  bool autoSave_ = false;
};

}  // namespace sealupdate
