// The INI file model: what it reads, and that writing keys keeps the rest of the file.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "serial/extras/IniDocument.h"

namespace serial::test {
namespace {

TEST(IniDocument, ReadsSectionsAndKeysIgnoringCaseAndBlanks) {
  const TIniDocument doc("top=1\n; note=not a key\n[Port]\n  Rate = 19200  \nrate=9600\n[b]\nx=\n");
  EXPECT_TRUE(doc.HasSection(""));
  EXPECT_FALSE(doc.HasSection("Missing"));
  EXPECT_EQ(doc.ReadString("port", "RATE"), "19200");  // the first of duplicates
  EXPECT_EQ(doc.ReadString("B", "x"), "");
  EXPECT_EQ(doc.ReadString("", "; note"), std::nullopt);
  EXPECT_EQ(doc.ReadString("Port", "top"), std::nullopt);
  EXPECT_EQ(doc.ReadSection(""), (TSettingValues{{"top", "1"}}));
}

TEST(IniDocument, WritingKeepsEverythingElseAndLineEnds) {
  TIniDocument doc("; settings\r\n[A]\r\nKeep=me\r\nx=1\r\n\r\n[B]\r\ny=2\r\n");
  doc.WriteString("a", "X", "10");   // replaced where it stands
  doc.WriteString("A", "New", "n");  // after the section's last key, before the blank line
  doc.WriteString("C", "z", "3");    // a new section at the end
  doc.WriteString("", "top", "t");   // above the first header
  EXPECT_EQ(doc.Text(),
            "; settings\r\ntop=t\r\n[A]\r\nKeep=me\r\nX=10\r\nNew=n\r\n\r\n[B]\r\ny=2\r\n\r\n"
            "[C]\r\nz=3\r\n");

  // What could not be read back as it was written is refused, and the text stays.
  const std::string before = doc.Text();
  EXPECT_THROW(doc.WriteString("S", "k", "two\nlines"), std::invalid_argument);
  EXPECT_THROW(doc.WriteString("S", "k", " padded"), std::invalid_argument);
  EXPECT_THROW(doc.WriteString("S", "a=b", "v"), std::invalid_argument);
  EXPECT_THROW(doc.WriteString("S]", "k", "v"), std::invalid_argument);
  EXPECT_EQ(doc.Text(), before);
}

}  // namespace
}  // namespace serial::test
