// Opening and closing, the callbacks around them, links, and failures on the way.
#include <gtest/gtest.h>

#include <cerrno>
#include <stdexcept>
#include <string>
#include <vector>

#include "FakePort.h"
#include "platform/Application.h"

namespace serial::test {
namespace {

// Records the four open/close callbacks by name, while it lives.
struct Callbacks {
  explicit Callbacks(TCustomComPort& p) : port(p) {
    port.OnBeforeOpen = [this](TCustomComPort&) { seen.push_back("BeforeOpen"); };
    port.OnAfterOpen = [this](TCustomComPort&) { seen.push_back("AfterOpen"); };
    port.OnBeforeClose = [this](TCustomComPort&) { seen.push_back("BeforeClose"); };
    port.OnAfterClose = [this](TCustomComPort&) { seen.push_back("AfterClose"); };
  }
  ~Callbacks() {
    port.OnBeforeOpen = nullptr;
    port.OnAfterOpen = nullptr;
    port.OnBeforeClose = nullptr;
    port.OnAfterClose = nullptr;
  }
  TCustomComPort& port;
  std::vector<std::string> seen;
};

// Records what a link hears about the connection and the signals.
struct SignalLink {
  SignalLink() {
    auto note = [this](const char* what) {
      return [this, what](TCustomComPort&, bool on) {
        seen.push_back(std::string(what) + (on ? "+" : "-"));
      };
    };
    link.OnConn = note("Conn");
    link.OnCTSChange = note("CTS");
    link.OnDSRChange = note("DSR");
    link.OnRLSDChange = note("RLSD");
  }
  TComLink link;
  std::vector<std::string> seen;
};

// Installs an exception handler for one test and restores the default after it.
struct CaughtExceptions {
  CaughtExceptions() {
    platform::SetExceptionHandler([this](std::exception_ptr e) {
      try {
        std::rethrow_exception(e);
      } catch (const std::exception& x) {
        messages.push_back(x.what());
      }
    });
  }
  ~CaughtExceptions() { platform::SetExceptionHandler(nullptr); }
  std::vector<std::string> messages;
};

TEST(Lifecycle, DefaultPortNameOpensThroughTheOpener) {
  FakePort f;
  EXPECT_EQ(f.port.Port(), "COM1");
  EXPECT_FALSE(f.port.HandleValid());
  f.port.Open();
  EXPECT_TRUE(f.port.Connected());
  EXPECT_TRUE(f.port.HandleValid());
  EXPECT_EQ(f.line->OpenName(), "COM1");
  f.port.Close();
  EXPECT_FALSE(f.port.Connected());
  EXPECT_FALSE(f.line->IsOpen());
}

TEST(Lifecycle, OpeningAMissingNameFailsAndCanBeTriedAgain) {
  FakePort f;
  Callbacks cb(f.port);
  f.port.SetPort("COM7");
  const EComPort e = Raised([&] { f.port.Open(); });
  EXPECT_EQ(e.ErrorCode(), 1);
  EXPECT_EQ(e.SystemErrorCode(), ENOENT);
  EXPECT_EQ(e.what(), WithSystemError("Unable to open com port", ENOENT));
  EXPECT_FALSE(f.port.Connected());
  EXPECT_EQ(cb.seen, std::vector<std::string>{"BeforeOpen"});

  f.line->AddName("COM7");
  f.port.Open();
  EXPECT_TRUE(f.port.Connected());
  EXPECT_EQ(f.line->CountCalls("Open"), 2u);
}

TEST(Lifecycle, OpenWhenOpenAndCloseWhenClosedDoNothing) {
  FakePort f;
  Callbacks cb(f.port);
  f.port.Close();
  f.port.SetConnected(false);
  EXPECT_TRUE(cb.seen.empty());
  f.port.Open();
  cb.seen.clear();
  f.line->ClearCalls();
  f.port.Open();
  f.port.SetConnected(true);
  EXPECT_TRUE(cb.seen.empty());
  EXPECT_TRUE(f.line->Calls().empty());
  f.port.SetConnected(false);
  EXPECT_EQ(cb.seen, (std::vector<std::string>{"BeforeClose", "AfterClose"}));
}

TEST(Lifecycle, ANewNameReopensAnOpenPort) {
  FakePort f;
  f.line->AddName("COM2");
  Callbacks cb(f.port);
  f.port.Open();
  cb.seen.clear();
  f.port.SetPort("COM1");
  EXPECT_TRUE(cb.seen.empty());
  f.port.SetPort("COM2");
  EXPECT_EQ(cb.seen,
            (std::vector<std::string>{"BeforeClose", "AfterClose", "BeforeOpen", "AfterOpen"}));
  EXPECT_EQ(f.line->OpenName(), "COM2");
  EXPECT_TRUE(f.port.Connected());
}

TEST(Lifecycle, LinksHearTheConnectionAndTheLineState) {
  FakePort f;
  SignalLink s;
  f.port.RegisterLink(&s.link);
  f.line->SetModemStatus(platform::kMsCtsOn | platform::kMsRlsdOn);
  f.port.Open();
  EXPECT_EQ(s.seen, (std::vector<std::string>{"Conn+", "CTS+", "DSR-", "RLSD+"}));
  s.seen.clear();
  f.port.Close();
  EXPECT_EQ(s.seen, (std::vector<std::string>{"CTS-", "DSR-", "RLSD-", "Conn-"}));
  f.port.UnRegisterLink(&s.link);
}

TEST(Lifecycle, AFailedSetupLeavesThePortClosed) {
  for (const char* op : {"SetupComm", "SetCommState", "SetCommTimeouts"}) {
    FakePort f;
    Callbacks cb(f.port);
    f.line->SetFailure(op, EIO);
    const EComPort e = Raised([&] { f.port.Open(); });
    EXPECT_EQ(e.SystemErrorCode(), EIO);
    EXPECT_FALSE(f.port.Connected()) << op;
    EXPECT_FALSE(f.port.HandleValid()) << op;
    EXPECT_FALSE(f.line->IsOpen()) << op;
    EXPECT_EQ(cb.seen, std::vector<std::string>{"BeforeOpen"});
    f.line->SetFailure(op, 0);
    f.port.Open();
    EXPECT_TRUE(f.port.Connected());
  }
}

TEST(Lifecycle, ARaisingAfterOpenHandlerLeavesThePortClosed) {
  FakePort f;
  SignalLink s;
  f.port.RegisterLink(&s.link);
  f.port.OnAfterOpen = [](TCustomComPort&) { throw std::runtime_error("handler"); };
  EXPECT_THROW(f.port.Open(), std::runtime_error);
  EXPECT_FALSE(f.port.Connected());
  EXPECT_FALSE(f.line->IsOpen());
  EXPECT_EQ(s.seen, (std::vector<std::string>{"Conn+", "Conn-"}));
  f.port.UnRegisterLink(&s.link);
}

TEST(Lifecycle, CloseReleasesTheDeviceEvenWhenAStepFails) {
  {
    FakePort f;
    Callbacks cb(f.port);
    f.port.Open();
    f.line->SetFailure("PurgeComm", ENXIO);  // the adapter was pulled
    const EComPort e = Raised([&] { f.port.Close(); });
    EXPECT_EQ(e.ErrorCode(), 5);
    EXPECT_EQ(e.SystemErrorCode(), ENXIO);
    EXPECT_FALSE(f.port.Connected());
    EXPECT_FALSE(f.line->IsOpen());
    EXPECT_EQ(cb.seen.back(), "AfterClose");
  }
  {
    FakePort f;
    f.port.Open();
    f.port.OnBeforeClose = [](TCustomComPort&) { throw std::runtime_error("handler"); };
    EXPECT_THROW(f.port.Close(), std::runtime_error);
    EXPECT_FALSE(f.port.Connected());
    EXPECT_FALSE(f.line->IsOpen());
    f.port.Open();  // and it opens again
    EXPECT_TRUE(f.port.Connected());
  }
}

TEST(Lifecycle, TheDestructorClosesAndNeverThrows) {
  CaughtExceptions caught;
  auto line = std::make_shared<platform::FakeLine>();
  {
    TComPort port;
    port.SetDeviceOpener(platform::FakeOpener(line));
    port.Open();
    line->SetFailure("PurgeComm", ENXIO);
  }
  EXPECT_FALSE(line->IsOpen());
  EXPECT_EQ(caught.messages,
            std::vector<std::string>{WithSystemError("PurgeComm function failed", ENXIO)});
}

TEST(Lifecycle, LoadedOpensAPortStoredAsConnected) {
  CaughtExceptions caught;
  for (const char* name : {"COM1", "COM9"}) {
    FakePort f;
    f.port.SetComponentState({.Designing = false, .Loading = true});
    f.port.SetPort(name);
    f.port.SetConnected(true);
    EXPECT_TRUE(f.line->Calls().empty());
    f.port.Loaded();
    EXPECT_FALSE(f.port.ComponentState().Loading);
    EXPECT_EQ(f.port.Connected(), std::string(name) == "COM1");
    EXPECT_EQ(f.port.Connected(), f.line->IsOpen());
  }
  // COM9 does not exist: its failed open went to the application's handler.
  EXPECT_EQ(caught.messages,
            std::vector<std::string>{WithSystemError("Unable to open com port", ENOENT)});

  FakePort designed;
  designed.port.SetComponentState({.Designing = true, .Loading = false});
  designed.port.Open();
  EXPECT_FALSE(designed.line->IsOpen());
}

TEST(Links, RegistrationRules) {
  TComPort port;
  TComLink plain, buffered;
  buffered.OnRxBuf = [](TCustomComPort&, const void*, int32_t) {};
  port.RegisterLink(&plain);
  EXPECT_EQ(Raised([&] { port.RegisterLink(&plain); }).ErrorCode(), 18);
  EXPECT_EQ(Raised([&] { port.UnRegisterLink(&buffered); }).ErrorCode(), 18);
  EXPECT_FALSE(port.HasLink());
  EXPECT_TRUE(port.TriggersOnRxChar());

  port.RegisterLink(&buffered);
  EXPECT_TRUE(port.HasLink());
  EXPECT_FALSE(port.TriggersOnRxChar());
  const EComPort e = Raised([&] { port.SetTriggersOnRxChar(false); });
  EXPECT_EQ(e.ErrorCode(), 22);
  EXPECT_STREQ(e.what(), "A component is linked to OnRxBuf event");

  port.UnRegisterLink(&buffered);
  EXPECT_TRUE(port.TriggersOnRxChar());
  port.SetTriggersOnRxChar(false);
  EXPECT_FALSE(port.TriggersOnRxChar());
  port.UnRegisterLink(&plain);
}

}  // namespace
}  // namespace serial::test
