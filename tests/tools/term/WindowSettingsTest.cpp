// The terminal's texts: escapes both ways, the hex lines, the line ends, the stored form and
// where it is stored.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "serial/extras/ComStrings.h"
#include "tools/term/WindowSettings.h"
#include "widgets/TermSettings.h"

namespace term::test {
namespace {

TEST(TermTexts, EveryByteEscapesAndReadsBack) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  const std::string text = EscapeText(all);
  for (const char c : text) {
    EXPECT_TRUE(c >= 0x20 && c <= 0x7E) << "unprintable " << static_cast<int>(c);
  }
  EXPECT_EQ(UnescapeText(text), all);
  EXPECT_EQ(EscapeText("#02SR106\r"), "#02SR106\\r");
  EXPECT_EQ(UnescapeText("\\x41\\r\\n\\t\\\\b"), "A\r\n\t\\b");
  for (const char* bad : {"\\q", "\\x4", "\\xZZ", "end\\"}) {
    EXPECT_THROW(UnescapeText(bad), serial::EComConvert) << bad;
  }
}

TEST(TermTexts, HexLinesAreTheSameHoweverTheBytesCame) {
  std::string bytes;
  for (int b = 0; b < 40; ++b) bytes += static_cast<char>(b * 7);
  int column = 0;
  const std::string whole = HexLines(bytes, column);
  EXPECT_EQ(column, 8);
  std::string pieces;
  column = 0;
  for (size_t at = 0; at < bytes.size(); at += 3) pieces += HexLines(bytes.substr(at, 3), column);
  EXPECT_EQ(pieces, whole);
  // Sixteen bytes a line, two digits each, one blank between.
  EXPECT_EQ(whole.substr(0, 48), "00 07 0E 15 1C 23 2A 31 38 3F 46 4D 54 5B 62 69\n");
  column = 0;
  EXPECT_EQ(HexLines("\xff\r", column), "FF 0D");
}

TEST(WindowSettings, StoredFormReadsBackAndNamesABadKey) {
  TWindowSettings s;
  s.LineEnd = leCRLF;
  s.HexView = false;
  s.PacketStart = "#";
  s.PacketStop = "\\r\\n";
  const TWindowSettings back = ValuesToWindowSettings(WindowSettingsToValues(s), TWindowSettings{});
  EXPECT_EQ(back.LineEnd, leCRLF);
  EXPECT_FALSE(back.HexView);
  EXPECT_EQ(back.PacketStart, "#");
  EXPECT_EQ(back.PacketStop, "\\r\\n");
  for (TLineEnd end : {leAsIs, leCR, leLF, leCRLF}) {
    EXPECT_EQ(StrToLineEnd(LineEndToStr(end)), end);
  }
  EXPECT_EQ(LineEndBytes(leCRLF), "\r\n");
  // One spelling with the terminal control's, stored and shown; the other common one reads, in
  // both places.
  EXPECT_EQ(LineEndToStr(leCRLF), widgets::LineEndToStr(widgets::tlCRLF));
  EXPECT_EQ(LineEndToStr(leAsIs), widgets::LineEndToStr(widgets::tlAsIs));
  EXPECT_EQ(StrToLineEnd(" cr+lf"), leCRLF);
  EXPECT_EQ(StrToLineEnd("As is"), leAsIs);
  EXPECT_EQ(widgets::StrToLineEnd("CR+LF"), widgets::tlCRLF);
  EXPECT_EQ(widgets::StrToLineEnd("as is"), widgets::tlAsIs);

  // A key not there keeps its value; a bad one is named.
  const TWindowSettings kept = ValuesToWindowSettings({{"hexview", "false"}}, s);
  EXPECT_EQ(kept.LineEnd, leCRLF);
  EXPECT_TRUE(ValuesToWindowSettings({{"HexView", "yes"}}, s).HexView);
  try {
    ValuesToWindowSettings({{"LineEnd", "CR"}, {"PacketStop", "\\q"}}, s);
    FAIL() << "a bad escape was read";
  } catch (const serial::EComConvert& e) {
    EXPECT_EQ(e.Setting(), "PacketStop");
  }
  EXPECT_THROW(ValuesToWindowSettings({{"LineEnd", "NUL"}}, s), serial::EComConvert);
}

TEST(WindowSettings, TheFileLivesInTheUsersConfigurationFolder) {
  const char* oldConfig = std::getenv("XDG_CONFIG_HOME");
  const std::string saved = oldConfig ? oldConfig : "";
  setenv("XDG_CONFIG_HOME", "/tmp/cfg-test", 1);
  EXPECT_EQ(SettingsFilePath(), "/tmp/cfg-test/valtrex/valtrex-term.ini");
  setenv("XDG_CONFIG_HOME", "relative/path", 1);  // not absolute: ignored
  const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
  EXPECT_EQ(SettingsFilePath(), home + "/.config/valtrex/valtrex-term.ini");
  unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(SettingsFilePath(), home + "/.config/valtrex/valtrex-term.ini");
  if (oldConfig) setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
}

}  // namespace
}  // namespace term::test
