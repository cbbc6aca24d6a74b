#include "model/ini_document.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "base/text.h"

namespace sealupdate {
namespace {

using Names = std::vector<std::u16string>;

IniDocument Store(std::u16string_view text) {
  IniDocument ini(u"unused");
  ini.SetAutoSave(false);
  ini.SetText(text);
  return ini;
}

TEST(IniDocument, NormalizesAssignedText) {
  const std::pair<std::u16string, std::u16string> cases[] = {
      {u"  [ Main ]x\r\nName = Foo Bar \r\njunk\r\n[]\r\n[abc\r\n\r\n[Other]\r\nk==v",
       u"[Main]\r\nName= Foo Bar \r\njunk\r\n\r\n[Other]\r\nk==v"},
      {u"[A]\nk=v", u"[A]"},  // only CR LF separates lines
      {u"x=1\r\n[A]\r\n[B]\r\n\r\n\r\n[C]", u"x=1\r\n[A]\r\n\r\n[B]\r\n\r\n[C]"},
      // Tabs are not blanks; a line of "=" and a value keeps its empty key.
      {u"\tx \r\n = v\r\n[B]]z", u"\tx \r\n= v\r\n[B]"},
  };
  for (const auto& [input, body] : cases) EXPECT_EQ(Store(input).Text(), body);
  IniDocument ini = Store(u"[A]\r\nk=v");
  ini.SetText(u"   ");  // blank text keeps the document
  EXPECT_EQ(ini.GetKey(u"A", u"k", u"d"), u"v");
}

TEST(IniDocument, GetKeyMatchesNamesWithoutCaseButUntrimmed) {
  const IniDocument ini = Store(
      u"junk=0\r\n  [ A ]  \r\n  k  =  v  \r\nEmpty=\r\nbr=one{#br}two\r\nBR2=one{#BR}two\r\n"
      u"eq=a=b\r\ncomment\r\nk=second\r\n[a]\r\nk=other\r\n[Ü]\r\nx=1");
  // The first key of the first section; an empty value reads as missing; the break mark's case
  // counts; caller names are not trimmed; case folding beyond ASCII; lines before the first
  // header belong to no section.
  const std::tuple<std::u16string, std::u16string, std::u16string> cases[] = {
      {u"a", u"K", u"  v  "},       {u"A", u"empty", u"d"},
      {u"A", u"br", u"one\r\ntwo"}, {u"a", u"br2", u"one{#BR}two"},
      {u"A", u"eq", u"a=b"},        {u" a", u"k", u"d"},
      {u"ü", u"X", u"1"},           {u"A", u"junk", u"d"},
  };
  for (const auto& [app, key, expected] : cases) {
    EXPECT_EQ(ini.GetKey(app, key, u"d"), expected) << Utf16ToUtf8(app + u"/" + key);
  }
  EXPECT_EQ(ini.SectionNames(), (Names{u"A", u"a", u"Ü"}));
  EXPECT_EQ(ini.KeyNames(u"a"), (Names{u"k", u"Empty", u"br", u"BR2", u"eq", u"k"}));
}

// The whole text after each edit: where new keys and sections go and the empty lines around them.
TEST(IniDocument, EditsKeepTheLayout) {
  const struct {
    std::u16string start;
    void (*edit)(IniDocument&);
    std::u16string expected;
  } cases[] = {
      // A key added to a section is written lower-case; an existing one keeps its spelling; an
      // empty value writes nothing; line breaks are stored as marks; edits in a section followed
      // by another stay inside it.
      {u"[Sec]\r\nKey=1\r\n[B]",
       [](IniDocument& i) {
         i.SetKey(u"Sec", u"New", u"2");
         i.SetKey(u"sEC", u"KEY", u"3");
         i.SetKey(u"Other", u"k", u"");
         i.SetKey(u"Sec", u"ml", u"a\r\nb\r\n");
         i.SetKey(u"Ext", u"Up", u"x");
       },
       u"[Sec]\r\nKey=3\r\nnew=2\r\nml=a{#br}b{#br}\r\n\r\n\r\n[B]\r\n\r\n[Ext]\r\nUp=x"},
      {u"[A]\r\na=1\r\n[a]\r\nb=3", [](IniDocument& i) { i.SetKey(u"a", u"a", u"7"); },
       u"[A]\r\na=7\r\n\r\n\r\n[a]\r\nb=3"},
      // A key name holding line breaks adds a header without the empty line before it; edits of
      // the section in front must still cut at line boundaries.
      {u"",
       [](IniDocument& i) {
         i.SetKey(u"A", u"k\r\n[B]\r\nx", u"1");
         i.SetKey(u"A", u"n", u"2");
       },
       u"[A]\r\nk\r\nn=2\r\n\r\n[B]\r\nx=1"},
      {u"[A]\r\na=1\r\nb=2\r\n[M]\r\nm=1\r\n[Z]\r\nz=1",
       [](IniDocument& i) {
         i.RemoveKey(u"A", u"x");
         i.RemoveKey(u"Q", u"a");
         i.RemoveSection(u"q");
         i.RemoveKey(u"a", u"A");
         i.RemoveKey(u"Z", u"z");
         i.RemoveSection(u"m");
       },
       u"[A]\r\nb=2\r\n\r\n[Z]"},
      {u"[A]\r\nk\r\n[M]\r\nm=1\r\n[Z]", [](IniDocument& i) { i.RemoveSection(u"Z"); },
       u"[A]\r\nk\r\n\r\n[M]\r\nm=1"},
      // The last section directly after other lines: those lines and the frame survive.
      {u"junk\r\nk=v\r\n[A]\r\na=1",
       [](IniDocument& i) {
         i.RemoveSection(u"A");
         i.SetKey(u"B", u"x", u"1");
         i.RemoveSection(u"jUnK");
       },
       u"junk\r\nk=v\r\n\r\n[B]\r\nx=1"},
      {u"[A]\r\na=1", [](IniDocument& i) { i.RemoveSection(u"a"); }, u""},
  };
  for (const auto& c : cases) {
    IniDocument ini = Store(c.start);
    c.edit(ini);
    EXPECT_EQ(ini.Text(), c.expected) << Utf16ToUtf8(c.start);
  }
}

// Random edits against a plain model: every read must agree.
TEST(IniDocument, RandomEditsAgreeWithAModel) {
  using Keys = std::vector<std::pair<std::u16string, std::u16string>>;
  const Names apps = {u"Sec", u"sEC", u"A", u"Ä", u"ä", u"中"}, keys = {u"Key", u"KEY", u"k", u"ü"};
  const Names pieces = {u"a", u"Z", u" ", u"=", u"[", u"]", u"\r\n", u"\r", u"\n", u"值"};
  for (unsigned seed = 1; seed <= 20; ++seed) {
    std::mt19937 rng(seed);
    auto pick = [&rng](const Names& from) { return from[rng() % from.size()]; };
    const auto same = [](const std::u16string& name) {
      return [&name](const auto& entry) { return EqualsIgnoreCase(entry.first, name); };
    };
    IniDocument ini = Store(u"");
    std::vector<std::pair<std::u16string, Keys>> model;
    for (int step = 0; step < 150; ++step) {
      const std::u16string app = pick(apps), key = pick(keys);
      const auto section = std::find_if(model.begin(), model.end(), same(app));
      Keys* pairs = section == model.end() ? nullptr : &section->second;
      const auto found =
          pairs ? std::find_if(pairs->begin(), pairs->end(), same(key)) : Keys::iterator();
      const bool hasKey = pairs && found != pairs->end();
      std::u16string value;
      switch (rng() % 7) {
        case 4:
          ini.RemoveKey(app, key);
          if (hasKey) pairs->erase(found);
          break;
        case 5:
          ini.RemoveSection(app);
          if (pairs) model.erase(section);
          break;
        case 6:
          ini.SetText(ini.Text());
          break;
        default:
          for (unsigned n = rng() % 5; n > 0; --n) value += pick(pieces);
          ini.SetKey(app, key, value);
          if (value.empty()) break;
          if (!pairs) model.push_back({app, {{key, value}}});
          if (pairs && !hasKey) pairs->emplace_back(ToLowerUnits(key), value);  // lower-case
          if (hasKey) found->second = value;
      }
      SCOPED_TRACE("seed " + std::to_string(seed) + " step " + std::to_string(step));
      Names names;
      for (const auto& [name, entries] : model) {
        names.push_back(name);
        Names keyNames;
        for (const auto& [k, v] : entries) {
          keyNames.push_back(k);
          ASSERT_EQ(ini.GetKey(name, k, u"-"), v);
        }
        ASSERT_EQ(ini.KeyNames(name), keyNames);
      }
      ASSERT_EQ(ini.SectionNames(), names);
    }
  }
}

}  // namespace
}  // namespace sealupdate
