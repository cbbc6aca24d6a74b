// The INI store (random edits: ini_document_fuzz.cpp), the save folders' write probe and clearing.
#include "model/ini_document.h"

#include "platform/codepage.h"
#include "scratch.h"

namespace sealupdate {
namespace {

using Names = std::vector<std::u16string>;

IniDocument Store(std::u16string_view text) {
  IniDocument ini(u"unused");
  ini.SetText(text);
  return ini;
}

TEST(IniDocument, NormalizesAssignedText) {
  const std::pair<std::u16string, std::u16string> cases[] = {
      {u"  [ Main ]x\r\nName = Foo Bar \r\njunk\r\n[]\r\n[abc\r\n\r\n[Other]\r\nk==v",
       u"[Main]\r\nName= Foo Bar \r\njunk\r\n\r\n[Other]\r\nk==v"},
      {u"[A]\nk=v", u"[A]"},  // only CR LF separates lines
      {u"x=1\r\n[A]\r\n[B]\r\n\r\n\r\n[C]", u"x=1\r\n[A]\r\n\r\n[B]\r\n\r\n[C]"},
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
  // The first key of the first section; empty reads as missing; the break mark's case counts;
  // caller names are not trimmed; folding beyond ASCII; lines before any header are in none.
  const std::tuple<std::u16string, std::u16string, std::u16string> cases[] = {
      {u"a", u"K", u"  v  "},       {u"A", u"empty", u"d"},
      {u"A", u"br", u"one\r\ntwo"}, {u"a", u"br2", u"one{#BR}two"},
      {u"A", u"eq", u"a=b"},        {u" a", u"k", u"d"},
      {u"ü", u"X", u"1"},           {u"A", u"junk", u"d"},
  };
  for (const auto& [app, key, expected] : cases)
    EXPECT_EQ(ini.GetKey(app, key, u"d"), expected) << Utf16ToUtf8(app + u"/" + key);
  EXPECT_EQ(ini.SectionNames(), (Names{u"A", u"a", u"Ü"}));
  EXPECT_EQ(ini.KeyNames(u"a"), (Names{u"k", u"Empty", u"br", u"BR2", u"eq", u"k"}));
}

// New keys lower-case at their section's end, new sections at the end after an empty line; a key
// name with line breaks cuts at line boundaries; removing the last section keeps what precedes it.
TEST(IniDocument, EditsKeepTheLayout) {
  IniDocument ini = Store(u"junk\r\n[Sec]\r\nKey=1\r\n[B]\r\nb=2");
  ini.SetKey(u"Sec", u"New", u"2");
  ini.SetKey(u"sEC", u"KEY", u"a\r\nb");
  ini.SetKey(u"Other", u"k", u"");
  ini.RemoveKey(u"b", u"B");
  ini.SetKey(u"A", u"k\r\n[C]\r\nx", u"1");
  ini.SetKey(u"A", u"n", u"2");
  EXPECT_EQ(ini.Text(),
            u"junk\r\n[Sec]\r\nKey=a{#br}b\r\nnew=2\r\n\r\n\r\n[B]\r\n\r\n[A]\r\nk\r\nn="
            u"2\r\n\r\n[C]\r\nx=1");
  ini.RemoveSection(u"c");
  ini.RemoveSection(u"SEC");
  EXPECT_EQ(ini.Text(), u"junk\r\n[B]\r\n\r\n[A]\r\nk\r\nn=2");
  for (const char16_t* section : {u"B", u"A"}) ini.RemoveSection(section);
  EXPECT_EQ(ini.Text(), u"junk");
}

TEST(IniDocument, LoadsSavesAndAutoSavesAnsiFiles) {
  const std::u16string folder = ScratchFolder();
  const std::string gbk = "\xD6\xD0\xCE\xC4";  // "中文"
  if (Utf16ToAnsi(u"中文") != gbk) GTEST_SKIP() << "ANSI code page is not 936";
  ASSERT_TRUE(WriteWholeFile(folder + u"\\cfg.ini", "[Info]\r\nName =" + gbk + "\r\n"));
  IniDocument ini(folder);
  ini.SetAutoSave(true);
  ini.SetPath(u"abc");  // too short, and a folder path: nothing
  ini.SetPath(u"cfg.ini\\");
  EXPECT_EQ(ini.Path(), u"");
  ini.SetPath(u"  cfg.ini ");
  EXPECT_EQ(ini.Path() + ini.GetKey(u"info", u"name", u""), folder + u"\\cfg.ini中文");
  ASSERT_TRUE(ini.Save(folder + u"\\out.ini"));
  EXPECT_EQ(ReadWholeFile(folder + u"\\out.ini"), "[Info]\r\nName=" + gbk);
  EXPECT_FALSE(ini.Save(folder + u"\\no-such-folder\\x.ini") || IniDocument(folder).Save(u""));
  ini.SetKey(u"Info", u"k", u"2");
  ini.RemoveKey(u"Info", u"Name");
  EXPECT_EQ(ReadWholeFile(folder + u"\\cfg.ini"), "[Info]\r\nk=2");
  ini.SetAutoSave(false);
  ini.RemoveSection(u"Info");
  EXPECT_EQ(ReadWholeFile(folder + u"\\cfg.ini"), "[Info]\r\nk=2");
}

TEST(Files, WriteProbeAndClearingAFolder) {
  const std::u16string folder = ScratchFolder();
  EXPECT_TRUE(CanWriteInFolder(folder + u"\\a\\b"));                       // created on the way
  EXPECT_TRUE(std::filesystem::is_empty(NativePath(folder + u"\\a\\b")));  // the probe is gone
  ASSERT_TRUE(WriteWholeFile(folder + u"\\file", "x"));
  EXPECT_FALSE(CanWriteInFolder(folder + u"\\file\\sub"));  // a file in the way

  for (const char16_t* name : {u"\\Setup.exe", u"\\setup.exe.part", u"\\version.dll"})
    ASSERT_TRUE(WriteWholeFile(folder + u"\\a" + name, "x"));
  ASSERT_TRUE(CreateFolderTree(folder + u"\\a\\planted\\deeper\\"));
  ASSERT_TRUE(WriteWholeFile(folder + u"\\a\\planted\\deeper\\x.dll", "x"));
  RemoveAllBut(folder + u"\\a", {u"setup.exe", u"setup.exe.part", u"setup.exe.part.info"});
  std::vector<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(NativePath(folder + u"\\a")))
    left.push_back(entry.path().filename().string());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"Setup.exe", "setup.exe.part"}));
}

}  // namespace
}  // namespace sealupdate
