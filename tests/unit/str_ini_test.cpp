#include "model/str_ini.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

#include "base/text.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "scratch.h"

namespace sealupdate {

struct StrINITestAccess {
  static const std::u16string& Stored(const clsStrINI& ini) { return ini.text_; }
  static const std::u16string& Lower(const clsStrINI& ini) { return ini.lower_; }
};

namespace {

using Names = std::vector<std::u16string>;

clsStrINI Store(std::u16string_view text) {
  clsStrINI ini(u"unused");
  ini.SetAutoSave(false);
  ini.SetText(text);
  return ini;
}

::testing::AssertionResult StoredFormHolds(const clsStrINI& ini) {
  const std::u16string& s = StrINITestAccess::Stored(ini);
  if (StrINITestAccess::Lower(ini) != ToLowerUnits(s)) {
    return ::testing::AssertionFailure() << "lower-case copy is stale";
  }
  const bool framed =
      s.size() >= 4 && s.compare(0, 2, u"\r\n") == 0 && s.compare(s.size() - 2, 2, u"\r\n") == 0;
  if (s.empty() || framed) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "stored form broken: " << Utf16ToUtf8(s);
}

TEST(StrINI, NormalizesAssignedText) {
  const std::pair<std::u16string, std::u16string> cases[] = {
      {u"[A]\r\nk=v", u"[A]\r\nk=v"},
      {u"  [ A ]  \r\n  k  =  v  ", u"[A]\r\nk=  v  "},
      {u"  [ Main ]x\r\nName = Foo Bar \r\njunk\r\n[]\r\n[abc\r\n\r\n[Other]\r\nk==v",
       u"[Main]\r\nName= Foo Bar \r\njunk\r\n\r\n[Other]\r\nk==v"},
      // Only CR LF separates lines.
      {u"[A]\nk=v", u"[A]"},
      {u"x=1\r\n[A]\r\n[B]\r\n\r\n\r\n[C]", u"x=1\r\n[A]\r\n\r\n[B]\r\n\r\n[C]"},
      // Tabs are not blanks; a line of "=" and a value keeps its empty key.
      {u"\tx \r\n = v\r\n[B]]z", u"\tx \r\n= v\r\n[B]"},
  };
  for (const auto& [input, body] : cases) {
    const clsStrINI ini = Store(input);
    EXPECT_EQ(ini.Text(), body) << Utf16ToUtf8(input);
    EXPECT_EQ(StrINITestAccess::Stored(ini), u"\r\n" + body + u"\r\n");
    EXPECT_TRUE(StoredFormHolds(ini));
  }
}

TEST(StrINI, BlankTextKeepsTheDocument) {
  clsStrINI ini = Store(u"[A]\r\nk=v");
  ini.SetText(u"");
  ini.SetText(u"   ");
  EXPECT_EQ(ini.GetKey(u"A", u"k", u"d"), u"v");
  EXPECT_EQ(Store(u"").Text(), u"");
  EXPECT_TRUE(StrINITestAccess::Stored(Store(u"  ")).empty());
}

TEST(StrINI, GetKeyMatchesNamesWithoutCaseButUntrimmed) {
  const clsStrINI ini = Store(
      u"junk=0\r\n  [ A ]  \r\n  k  =  v  \r\nEmpty=\r\nbr=one{#br}two\r\nBR2=one{#BR}two\r\n"
      u"eq=a=b\r\ncomment\r\nk=second\r\n[a]\r\nk=other\r\n[Ü]\r\nx=1");
  const struct {
    std::u16string app, key, expected;
  } cases[] = {
      {u"a", u"K", u"  v  "},  // first key of the first section wins
      {u"A", u"empty", u"d"},  // an empty value reads as missing
      {u"A", u"br", u"one\r\ntwo"},
      {u"a", u"br2", u"one{#BR}two"},  // the break mark is case-sensitive
      {u"A", u"eq", u"a=b"},
      {u" a", u"k", u"d"},  // caller names are not trimmed
      {u"A", u" k", u"d"},
      {u"ü", u"X", u"1"},     // case folding beyond ASCII
      {u"A", u"junk", u"d"},  // lines before the first header belong to no section
      {u"A", u"comment", u"d"},
      {u"B", u"k", u"d"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ini.GetKey(c.app, c.key, u"d"), c.expected)
        << Utf16ToUtf8(c.app) << "/" << Utf16ToUtf8(c.key);
  }
  EXPECT_EQ(ini.GetAllAppName(), (Names{u"A", u"a", u"Ü"}));
  EXPECT_EQ(ini.GetAllKeyName(u"a"), (Names{u"k", u"Empty", u"br", u"BR2", u"eq", u"k"}));
}

TEST(StrINI, SetKeyCreatesReplacesAndAppends) {
  clsStrINI ini = Store(u"");
  ini.SetKey(u"Sec", u"Key", u"1");
  EXPECT_EQ(ini.Text(), u"[Sec]\r\nKey=1");
  ini.SetKey(u"Sec", u"New", u"2");  // a key added to an existing section is written lower-case
  EXPECT_EQ(ini.Text(), u"[Sec]\r\nKey=1\r\nnew=2");
  ini.SetKey(u"sEC", u"KEY", u"3");  // an existing key keeps the document's spelling
  EXPECT_EQ(ini.Text(), u"[Sec]\r\nKey=3\r\nnew=2");
  ini.SetKey(u"Sec", u"Key", u"");
  ini.SetKey(u"Other", u"k", u"");
  EXPECT_EQ(ini.Text(), u"[Sec]\r\nKey=3\r\nnew=2");

  ini.SetKey(u"Sec", u"ml", u"a\r\nb\r\n");
  EXPECT_EQ(ini.Text(), u"[Sec]\r\nKey=3\r\nnew=2\r\nml=a{#br}b{#br}");
  EXPECT_EQ(ini.GetKey(u"sec", u"ML", u""), u"a\r\nb\r\n");
  ini.SetKey(u"Ext", u"Up", u"x");  // a new section follows an empty line, names as given
  EXPECT_EQ(ini.Text(), u"[Sec]\r\nKey=3\r\nnew=2\r\nml=a{#br}b{#br}\r\n\r\n[Ext]\r\nUp=x");
  EXPECT_TRUE(StoredFormHolds(ini));
  ini.SetKey(u"Ext", u" k ", u"v");  // names the caller writes stay untrimmed
  EXPECT_EQ(ini.GetAllKeyName(u"ext"), (Names{u"Up", u" k "}));
  EXPECT_TRUE(Store(u"[A]\r\nnote").GetAllKeyName(u"A").empty());
}

TEST(StrINI, EditsInASectionFollowedByAnotherStayInside) {
  clsStrINI ini = Store(u"[A]\r\na=1\r\nb=2\r\n[B]\r\nb=3");
  ini.SetKey(u"A", u"a", u"7");
  EXPECT_EQ(ini.Text(), u"[A]\r\na=7\r\nb=2\r\n\r\n[B]\r\nb=3");
  ini.SetKey(u"A", u"c", u"4");  // leaves a second empty line before the next header
  EXPECT_EQ(ini.Text(), u"[A]\r\na=7\r\nb=2\r\nc=4\r\n\r\n\r\n[B]\r\nb=3");
  ini.SetKey(u"A", u"d", u"5");
  EXPECT_EQ(ini.GetAllKeyName(u"A"), (Names{u"a", u"b", u"c", u"d"}));
  EXPECT_EQ(ini.GetKey(u"B", u"b", u""), u"3");
  EXPECT_EQ(ini.GetAllAppName(), (Names{u"A", u"B"}));
  ini.SetText(ini.Text());
  EXPECT_EQ(ini.Text(), u"[A]\r\na=7\r\nb=2\r\nc=4\r\nd=5\r\n\r\n[B]\r\nb=3");

  clsStrINI twice = Store(u"[A]\r\nk=1\r\n[a]\r\nk=2");
  twice.SetKey(u"a", u"k", u"5");
  EXPECT_EQ(twice.Text(), u"[A]\r\nk=5\r\n\r\n\r\n[a]\r\nk=2");
  EXPECT_EQ(twice.GetAllAppName(), (Names{u"A", u"a"}));
  clsStrINI empty = Store(u"[A]\r\n[B]\r\nb=1");  // a key for a section that has none
  empty.SetKey(u"A", u"k", u"1");
  EXPECT_EQ(empty.Text(), u"[A]\r\nk=1\r\n\r\n\r\n[B]\r\nb=1");

  // A key name holding line breaks adds a header without the empty line before it; edits of
  // the section in front must still cut at line boundaries.
  clsStrINI joined = Store(u"");
  joined.SetKey(u"A", u"k\r\n[B]\r\nx", u"1");
  joined.SetKey(u"A", u"n", u"2");
  EXPECT_EQ(joined.Text(), u"[A]\r\nk\r\nn=2\r\n\r\n[B]\r\nx=1");
  joined.DelAppName(u"a");
  EXPECT_EQ(joined.Text(), u"[B]\r\nx=1");
}

TEST(StrINI, DeletesKeysAndSections) {
  const std::u16string doc = u"[A]\r\na=1\r\nb=2\r\n[M]\r\nm=1\r\n[Z]\r\nz=1";
  struct Case {
    void (*edit)(clsStrINI&);
    std::u16string expected;
  };
  const Case cases[] = {
      {[](clsStrINI& i) { i.DelKeyName(u"A", u"x"); },
       u"[A]\r\na=1\r\nb=2\r\n\r\n[M]\r\nm=1\r\n\r\n[Z]\r\nz=1"},
      {[](clsStrINI& i) { i.DelKeyName(u"Q", u"a"); },
       u"[A]\r\na=1\r\nb=2\r\n\r\n[M]\r\nm=1\r\n\r\n[Z]\r\nz=1"},
      {[](clsStrINI& i) { i.DelKeyName(u"a", u"A"); },
       u"[A]\r\nb=2\r\n\r\n[M]\r\nm=1\r\n\r\n[Z]\r\nz=1"},
      {[](clsStrINI& i) { i.DelKeyName(u"Z", u"z"); },
       u"[A]\r\na=1\r\nb=2\r\n\r\n[M]\r\nm=1\r\n\r\n[Z]"},
      {[](clsStrINI& i) { i.DelAppName(u"q"); },
       u"[A]\r\na=1\r\nb=2\r\n\r\n[M]\r\nm=1\r\n\r\n[Z]\r\nz=1"},
      {[](clsStrINI& i) { i.DelAppName(u"m"); }, u"[A]\r\na=1\r\nb=2\r\n\r\n[Z]\r\nz=1"},
      {[](clsStrINI& i) { i.DelAppName(u"Z"); }, u"[A]\r\na=1\r\nb=2\r\n\r\n[M]\r\nm=1"},
      {[](clsStrINI& i) { i.DelAppName(u"A"); }, u"[M]\r\nm=1\r\n\r\n[Z]\r\nz=1"},
  };
  for (const auto& c : cases) {
    clsStrINI ini = Store(doc);
    c.edit(ini);
    EXPECT_EQ(ini.Text(), c.expected);
    EXPECT_TRUE(StoredFormHolds(ini));
  }

  clsStrINI only = Store(u"[A]\r\na=1");
  only.DelAppName(u"a");
  EXPECT_TRUE(StrINITestAccess::Stored(only).empty());
  EXPECT_TRUE(only.GetAllAppName().empty());

  // The last section directly after other lines: those lines and the frame survive.
  clsStrINI after = Store(u"junk\r\nk=v\r\n[A]\r\na=1");
  after.DelAppName(u"A");
  EXPECT_EQ(StrINITestAccess::Stored(after), u"\r\njunk\r\nk=v\r\n");
  after.SetKey(u"B", u"x", u"1");
  EXPECT_EQ(after.Text(), u"junk\r\nk=v\r\n\r\n[B]\r\nx=1");
  EXPECT_EQ(after.GetKey(u"b", u"X", u""), u"1");
}

const std::string kGbkChinese = "\xD6\xD0\xCE\xC4";  // "中文"

TEST(StrINIFiles, LoadsRelativePathsAndSavesAnsiText) {
  const std::u16string folder = ScratchFolder();
  if (Utf16ToAnsi(u"中文") != kGbkChinese) GTEST_SKIP() << "ANSI code page is not 936";
  ASSERT_TRUE(WriteWholeFile(folder + u"\\cfg.ini", "[Info]\r\nName =" + kGbkChinese + "\r\n"));

  clsStrINI ini(folder);
  ini.SetPath(u"abc");
  ini.SetPath(u"cfg.ini\\");
  EXPECT_EQ(ini.Path(), u"");
  ini.SetPath(u"abcd");  // four units are enough
  EXPECT_EQ(ini.Path(), folder + u"\\abcd");
  ini.SetPath(u"  cfg.ini ");
  EXPECT_EQ(ini.Path(), folder + u"\\cfg.ini");
  EXPECT_EQ(ini.GetKey(u"info", u"name", u""), u"中文");

  ini.SetPath(u"missing.ini");  // the path changes, the document stays
  EXPECT_EQ(ini.Path(), folder + u"\\missing.ini");
  EXPECT_EQ(ini.GetKey(u"Info", u"Name", u""), u"中文");

  ASSERT_TRUE(ini.Save(folder + u"\\out.ini"));
  EXPECT_EQ(ReadWholeFile(folder + u"\\out.ini"), "[Info]\r\nName=" + kGbkChinese);
  EXPECT_EQ(ini.Path(), folder + u"\\missing.ini");
  EXPECT_FALSE(ini.Save(folder + u"\\no-such-folder\\x.ini"));
  EXPECT_FALSE(clsStrINI(folder).Save(u""));

  clsStrINI slashes(folder + u"\\");
  slashes.SetPath(u"sub\\\\cfg.ini");
  EXPECT_EQ(slashes.Path(), folder + u"\\sub\\cfg.ini");
}

TEST(StrINIFiles, AutoSaveWritesAfterEveryEdit) {
  const std::u16string folder = ScratchFolder();
  ASSERT_TRUE(WriteWholeFile(folder + u"\\cfg.ini", "[A]\r\nk=1\r\n"));
  clsStrINI ini(folder);
  ini.SetPath(u"cfg.ini");
  ini.SetKey(u"A", u"k", u"2");
  EXPECT_EQ(ReadWholeFile(folder + u"\\cfg.ini"), "[A]\r\nk=2");
  ini.DelKeyName(u"A", u"k");
  EXPECT_EQ(ReadWholeFile(folder + u"\\cfg.ini"), "[A]");
  ini.SetAutoSave(false);
  ini.SetKey(u"A", u"k", u"3");
  EXPECT_EQ(ReadWholeFile(folder + u"\\cfg.ini"), "[A]");
}

// Random edits against a plain model: every read must agree and the stored form must hold.
TEST(StrINI, RandomEditsAgreeWithAModel) {
  struct ModelSection {
    std::u16string name;
    std::vector<std::pair<std::u16string, std::u16string>> keys;
  };
  const Names apps = {u"Sec", u"sEC", u"A", u"Ä", u"ä", u"中"};
  const Names keys = {u"Key", u"KEY", u"k", u"ü", u"Ü"};
  const Names pieces = {u"a", u"Z", u" ", u"=", u"[", u"]", u"\r\n", u"\r", u"\n", u"值"};

  for (unsigned seed = 1; seed <= 20; ++seed) {
    std::mt19937 rng(seed);
    auto pick = [&rng](const Names& from) { return from[rng() % from.size()]; };
    clsStrINI ini = Store(u"");
    std::vector<ModelSection> model;
    auto findSection = [&model](const std::u16string& app) {
      for (auto it = model.begin(); it != model.end(); ++it) {
        if (EqualsIgnoreCase(it->name, app)) return it;
      }
      return model.end();
    };

    for (int step = 0; step < 150; ++step) {
      const std::u16string app = pick(apps), key = pick(keys);
      const auto section = findSection(app);
      const bool hasSection = section != model.end();
      std::vector<std::pair<std::u16string, std::u16string>>::iterator found;
      if (hasSection) {
        found = section->keys.begin();
        while (found != section->keys.end() && !EqualsIgnoreCase(found->first, key)) ++found;
      }
      const bool hasKey = hasSection && found != section->keys.end();
      switch (rng() % 7) {
        case 4:
          ini.DelKeyName(app, key);
          if (hasKey) section->keys.erase(found);
          break;
        case 5:
          ini.DelAppName(app);
          if (hasSection) model.erase(section);
          break;
        case 6:
          ini.SetText(ini.Text());
          break;
        default: {
          std::u16string value;
          for (unsigned n = rng() % 5; n > 0; --n) value += pick(pieces);
          ini.SetKey(app, key, value);
          if (value.empty()) break;
          if (!hasSection) {
            model.push_back({app, {{key, value}}});
          } else if (!hasKey) {
            section->keys.emplace_back(ToLowerUnits(key), value);
          } else {
            found->second = value;
          }
        }
      }

      ASSERT_TRUE(StoredFormHolds(ini)) << "seed " << seed << " step " << step;
      Names names;
      for (const auto& s : model) {
        names.push_back(s.name);
        Names keyNames;
        for (const auto& [k, v] : s.keys) {
          keyNames.push_back(k);
          ASSERT_EQ(ini.GetKey(s.name, k, u"-"), v) << "seed " << seed << " step " << step;
        }
        ASSERT_EQ(ini.GetAllKeyName(s.name), keyNames) << "seed " << seed << " step " << step;
      }
      ASSERT_EQ(ini.GetAllAppName(), names) << "seed " << seed << " step " << step;
    }
  }
}

}  // namespace
}  // namespace sealupdate
