// A port's settings as one value and as stored keys.
#include <gtest/gtest.h>

#include <string>

#include "UnusualSettings.h"
#include "serial/extras/ComStrings.h"
#include "tests/serial/FakePort.h"

namespace serial::test {
namespace {

TEST(PortSettings, DefaultValueIsANewPortsAndTheUnusualOneChangesEveryKey) {
  EXPECT_TRUE(GetPortSettings(TComPort()) == TComPortSettings{});
  const auto defaults = PortSettingsToValues(TComPortSettings{});
  const auto unusual = PortSettingsToValues(UnusualSettings());
  ASSERT_EQ(defaults.size(), unusual.size());
  for (size_t i = 0; i < defaults.size(); ++i) {
    EXPECT_NE(defaults[i].second, unusual[i].second) << defaults[i].first;
  }
}

TEST(PortSettings, EveryCharacterCodeReadsBackAsItself) {
  for (int code = 0; code < 256; ++code) {
    TComPortSettings s;
    const char c = static_cast<char>(code);
    s.EventChar = c;
    s.Parity.SetReplaceChar(c);
    s.FlowControl.SetXonChar(c);
    s.FlowControl.SetXoffChar(c);
    TComPortSettings read;
    ValuesToPortSettings(PortSettingsToValues(s), read);
    ASSERT_TRUE(read == s) << code;
  }
}

TEST(PortSettings, BadValueNamesItsKeyAndChangesNothing) {
  struct Case {
    const char* key;
    const char* text;
  };
  for (const auto& c :
       {Case{"BaudRate", "fast"}, Case{"CustomBaudRate", "2147483648"},
        Case{"CustomBaudRate", "12x"}, Case{"CustomBaudRate", "-5"}, Case{"CustomBaudRate", "0"},
        Case{"XonChar", "256"}, Case{"XoffChar", "-1"}, Case{"DiscardNull", "maybe"},
        Case{"Events", "RxChar, Bogus"}, Case{"StopBits", "3"}}) {
    TComPortSettings s = UnusualSettings();
    try {
      // The good key is read first and must not be kept when the bad one is refused.
      ValuesToPortSettings({{"DataBits", "5"}, {c.key, c.text}}, s);
      ADD_FAILURE() << c.key << " accepted " << c.text;
    } catch (const EComConvert& e) {
      EXPECT_EQ(e.Setting(), c.key);
      EXPECT_EQ(e.Text(), c.text);
      EXPECT_EQ(std::string(e.what()).rfind(std::string(c.key) + ": ", 0), 0u) << e.what();
    }
    EXPECT_TRUE(s == UnusualSettings()) << c.key;
  }
}

TEST(PortSettings, LinkedPortRefusesTriggersOnRxCharBeforeAnythingChanges) {
  TComPort linked;
  TComLink link;
  link.OnRxBuf = [](TCustomComPort&, const void*, int32_t) {};
  linked.RegisterLink(&link);
  TComPortSettings s = UnusualSettings();
  s.TriggersOnRxChar = true;  // refused while a link listens for buffers
  EXPECT_EQ(Raised([&] { SetPortSettings(linked, s); }).ErrorCode(), ecode::kRxBufLinked);
  EXPECT_EQ(linked.SyncMethod(), smThreadSync);
  EXPECT_EQ(linked.BaudRate(), br9600);
  // False is what a linked port reads as already, so it loads.
  s.TriggersOnRxChar = false;
  SetPortSettings(linked, s);
  EXPECT_EQ(linked.BaudRate(), brCustom);
  linked.UnRegisterLink(&link);
}

}  // namespace
}  // namespace serial::test
