// Every setter of the port and of its four setting objects, and the calls around them (open,
// close, update brackets, links, transfers, a port name changed while open), in arbitrary order
// with arbitrary values, out-of-range enumeration bytes included, on the recording fake device,
// with the device now and then failing an operation. Each call either returns or raises
// EComPort with a code of the table and that code's message; anything else is a finding. The
// port holds its device exactly while it says it is connected, a closed or held-back port makes
// no device call for a setting, and an open port's driver has the settings the port holds.
//
// Input: operations until the input ends, an operation byte and its arguments each.
//
// The port gets the fake opener before anything else and the fake line knows only made-up
// names: a name changed on an open port reopens it, and no name may ever reach a real device.

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <exception>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/FuzzCheck.h"
#include "fuzz/Input.h"
#include "platform/Application.h"
#include "platform/ComDevice.h"
#include "platform/fake/FakeComDevice.h"
#include "serial/ComError.h"
#include "serial/ComPort.h"

namespace {

using serial::TComPort;

const std::vector<std::string> kLineNames{"fuzz0", "fuzz1"};
// Names the fuzzer picks from besides its own bytes: the line's, near misses, and names of real
// ports, which the fake line does not know and so refuses.
constexpr std::string_view kNames[] = {"fuzz0", "fuzz1", "fuzz2", "", "COM1", "COM10", "fuzz0 "};
constexpr const char* kOperations[] = {"Open",
                                       "SetupComm",
                                       "SetCommState",
                                       "SetCommTimeouts",
                                       "ReadFile",
                                       "WriteFile",
                                       "GetOverlappedResult",
                                       "CancelIo",
                                       "ClearCommError",
                                       "PurgeComm",
                                       "EscapeCommFunction",
                                       "GetCommModemStatus",
                                       "TransmitCommChar"};
constexpr int kErrors[] = {0, EIO, EBUSY, ENXIO, EINVAL, 0};

template <typename E>
E AnyEnum(fuzz::TInput& in) {
  // Mostly members, sometimes any byte at all.
  const uint8_t b = in.Byte();
  return static_cast<E>(b & 0x80 ? b : b % 17);
}

int32_t AnyInt(fuzz::TInput& in) {
  switch (in.Byte() % 4) {
    case 0:
      return static_cast<int32_t>(in.Byte()) - 2;
    case 1:
      return static_cast<int32_t>(in.U16());
    default:
      return in.I32();
  }
}

std::string AnyName(fuzz::TInput& in) {
  const uint8_t pick = in.Byte();
  if (pick < 0xC0) return std::string(kNames[pick % std::size(kNames)]);
  return std::string(in.Bytes(pick % 16));
}

bool SameLine(const platform::TDCB& a, const platform::TDCB& b) {
  // The flow limits follow the input queue size, which only the next line setting sends.
  platform::TDCB x = a;
  platform::TDCB y = b;
  x.XonLim = y.XonLim = 0;
  x.XoffLim = y.XoffLim = 0;
  return std::memcmp(&x, &y, sizeof x) == 0;
}

bool SameTimeouts(const platform::TCommTimeouts& a, const platform::TCommTimeouts& b) {
  return a.ReadIntervalTimeout == b.ReadIntervalTimeout &&
         a.ReadTotalTimeoutMultiplier == b.ReadTotalTimeoutMultiplier &&
         a.ReadTotalTimeoutConstant == b.ReadTotalTimeoutConstant &&
         a.WriteTotalTimeoutMultiplier == b.WriteTotalTimeoutMultiplier &&
         a.WriteTotalTimeoutConstant == b.WriteTotalTimeoutConstant;
}

void CheckError(const serial::EComPort& e) {
  FUZZ_CHECK(e.ErrorCode() >= 1 && e.ErrorCode() <= serial::ecode::kCount);
  std::string message = serial::ComErrorText(e.ErrorCode());
  if (e.SystemErrorCode() != -1) {
    message += " (" + platform::SystemErrorText(e.SystemErrorCode()) + ")";
  }
  FUZZ_CHECK(e.Message() == message);
  FUZZ_CHECK(std::string(e.what()) == message);
}

class THarness {
 public:
  explicit THarness(fuzz::TInput& in) : in_(in) {
    port_.SetDeviceOpener(platform::FakeOpener(line_));
    // No event thread: its calls would land in the record at moments of the scheduler's choosing,
    // and a run must be the same every time it is replayed. The thread has tests of its own.
    port_.Events = {};
    rxLink_.OnRxBuf = [](serial::TCustomComPort&, const void*, int32_t) {};
    connLink_.OnConn = [](serial::TCustomComPort&, bool) {};
  }

  void Run() {
    while (!in_.Empty()) Step(in_.Byte());
  }

  std::shared_ptr<const platform::FakeLine> Line() const { return line_; }

 private:
  // A setting reaches the device only when the port could apply it; anything else may call it.
  enum class Kind { setting, other };

  void Step(uint8_t op) {
    const bool couldApply = port_.HandleValid() && port_.UpdateCount() == 0 && !loading_;
    line_->ClearCalls();
    // Decided before the call, so that a call that raises is judged by what it is.
    const int which = op % 48;
    kind_ = which <= 31 || which == 36 || which == 37 || which == 46 ? Kind::setting : Kind::other;
    try {
      Perform(op);
    } catch (const serial::EComPort& e) {
      CheckError(e);
      const int32_t code = e.ErrorCode();
      if (code == serial::ecode::kSetCommState || code == serial::ecode::kSetCommTimeouts ||
          code == serial::ecode::kSetupComm) {
        driverFresh_ = false;
      }
    }
    const std::vector<std::string> calls = line_->Calls();
    if (kind_ == Kind::setting && !couldApply) FUZZ_CHECK(calls.empty());

    // The device is held exactly while the port says it is connected.
    FUZZ_CHECK(port_.HandleValid() == line_->IsOpen());
    if (!loading_) FUZZ_CHECK(port_.Connected() == port_.HandleValid());
    FUZZ_CHECK(port_.UpdateCount() >= 0);
    FUZZ_CHECK(!port_.TriggersOnRxChar() || !rxLinked_);

    if (!port_.HandleValid()) driverFresh_ = false;
    if (driverFresh_ && port_.UpdateCount() == 0 && !loading_) {
      const auto dcb = line_->LastDCB();
      const auto timeouts = line_->LastTimeouts();
      FUZZ_CHECK(dcb && SameLine(*dcb, port_.BuildDCB()));
      FUZZ_CHECK(timeouts && SameTimeouts(*timeouts, port_.BuildTimeouts()));
    }
  }

  // Marks the driver as holding all the settings when a call that sends them all succeeded.
  void SentAll() {
    if (port_.HandleValid() && port_.UpdateCount() == 0 && !loading_ && failures_ == 0) {
      driverFresh_ = true;
    }
  }

  void Perform(uint8_t op) {
    switch (op % 48) {
      case 0: {
        const auto v = AnyEnum<serial::TBaudRate>(in_);
        port_.SetBaudRate(v);
        FUZZ_CHECK(port_.BaudRate() == v);
        FUZZ_CHECK(port_.BuildDCB().BaudRate == (v == serial::brCustom
                                                     ? static_cast<uint32_t>(port_.CustomBaudRate())
                                                     : serial::BaudRateValue(v)));
        return;
      }
      case 1: {
        const int32_t v = AnyInt(in_);
        port_.SetCustomBaudRate(v);
        FUZZ_CHECK(port_.CustomBaudRate() == v);
        return;
      }
      case 2: {
        const auto v = AnyEnum<serial::TDataBits>(in_);
        port_.SetDataBits(v);
        FUZZ_CHECK(port_.DataBits() == v);
        return;
      }
      case 3: {
        const auto v = AnyEnum<serial::TStopBits>(in_);
        port_.SetStopBits(v);
        FUZZ_CHECK(port_.StopBits() == v);
        return;
      }
      case 4:
        port_.SetDiscardNull(in_.Bool());
        return;
      case 5:
        port_.SetEventChar(static_cast<char>(in_.Byte()));
        return;
      case 6: {
        const auto v = AnyEnum<serial::TParityBits>(in_);
        port_.Parity().SetBits(v);
        FUZZ_CHECK(port_.Parity().Bits() == v);
        return;
      }
      case 7:
        port_.Parity().SetCheck(in_.Bool());
        return;
      case 8:
        port_.Parity().SetReplace(in_.Bool());
        return;
      case 9:
        port_.Parity().SetReplaceChar(static_cast<char>(in_.Byte()));
        return;
      case 10:
        port_.FlowControl().SetOutCTSFlow(in_.Bool());
        return;
      case 11:
        port_.FlowControl().SetOutDSRFlow(in_.Bool());
        return;
      case 12: {
        const auto v = AnyEnum<serial::TDTRFlowControl>(in_);
        port_.FlowControl().SetControlDTR(v);
        FUZZ_CHECK(port_.FlowControl().ControlDTR() == v);
        return;
      }
      case 13: {
        const auto v = AnyEnum<serial::TRTSFlowControl>(in_);
        port_.FlowControl().SetControlRTS(v);
        FUZZ_CHECK(port_.FlowControl().ControlRTS() == v);
        return;
      }
      case 14:
        port_.FlowControl().SetXonXoffOut(in_.Bool());
        return;
      case 15:
        port_.FlowControl().SetXonXoffIn(in_.Bool());
        return;
      case 16:
        port_.FlowControl().SetDSRSensitivity(in_.Bool());
        return;
      case 17:
        port_.FlowControl().SetTxContinueOnXoff(in_.Bool());
        return;
      case 18:
        port_.FlowControl().SetXonChar(static_cast<char>(in_.Byte()));
        return;
      case 19:
        port_.FlowControl().SetXoffChar(static_cast<char>(in_.Byte()));
        return;
      case 20: {
        const auto v = AnyEnum<serial::TFlowControl>(in_);
        port_.FlowControl().SetFlowControl(v);
        // A preset reads back as itself; anything else leaves the fields as they were.
        if (v == serial::fcHardware || v == serial::fcSoftware || v == serial::fcNone) {
          FUZZ_CHECK(port_.FlowControl().FlowControl() == v);
        }
        return;
      }
      case 21: {
        const int32_t v = AnyInt(in_);
        switch (in_.Byte() % 5) {
          case 0:
            port_.Timeouts().SetReadInterval(v);
            FUZZ_CHECK(port_.Timeouts().ReadInterval() == v);
            break;
          case 1:
            port_.Timeouts().SetReadTotalM(v);
            FUZZ_CHECK(port_.Timeouts().ReadTotalMultiplier() == v);
            break;
          case 2:
            port_.Timeouts().SetReadTotalC(v);
            FUZZ_CHECK(port_.Timeouts().ReadTotalConstant() == v);
            break;
          case 3:
            port_.Timeouts().SetWriteTotalM(v);
            FUZZ_CHECK(port_.Timeouts().WriteTotalMultiplier() == v);
            break;
          default:
            port_.Timeouts().SetWriteTotalC(v);
            FUZZ_CHECK(port_.Timeouts().WriteTotalConstant() == v);
            break;
        }
        return;
      }
      case 22: {
        const int32_t v = AnyInt(in_);
        const bool input = in_.Bool();
        const int32_t before = input ? port_.Buffer().InputSize() : port_.Buffer().OutputSize();
        if (input) {
          port_.Buffer().SetInputSize(v);
        } else {
          port_.Buffer().SetOutputSize(v);
        }
        const int32_t now = input ? port_.Buffer().InputSize() : port_.Buffer().OutputSize();
        if (v != before) FUZZ_CHECK(now == (v > 0 && v % 2 != 0 ? v - 1 : v));
        // The 16-bit flow limits hold a quarter of the input queue, never a wrapped one.
        const platform::TDCB dcb = port_.BuildDCB();
        FUZZ_CHECK(dcb.XonLim == dcb.XoffLim);
        FUZZ_CHECK(port_.Buffer().InputSize() / 4 < 0 ||
                   dcb.XonLim <= port_.Buffer().InputSize() / 4);
        return;
      }
      case 23: {
        serial::TComParity value;
        value.SetBits(AnyEnum<serial::TParityBits>(in_));
        value.SetCheck(in_.Bool());
        value.SetReplace(in_.Bool());
        value.SetReplaceChar(static_cast<char>(in_.Byte()));
        port_.SetParity(value);
        FUZZ_CHECK(port_.Parity().Bits() == value.Bits() &&
                   port_.Parity().Check() == value.Check() &&
                   port_.Parity().ReplaceChar() == value.ReplaceChar());
        FUZZ_CHECK(port_.Parity().ComPort() == &port_);
        return;
      }
      case 24: {
        serial::TComFlowControl value;
        value.SetFlowControl(AnyEnum<serial::TFlowControl>(in_));
        value.SetControlDTR(AnyEnum<serial::TDTRFlowControl>(in_));
        value.SetXonChar(static_cast<char>(in_.Byte()));
        port_.SetFlowControl(value);
        FUZZ_CHECK(port_.FlowControl().FlowControl() == value.FlowControl());
        FUZZ_CHECK(port_.FlowControl().ComPort() == &port_);
        return;
      }
      case 25: {
        serial::TComTimeouts value;
        value.SetReadInterval(AnyInt(in_));
        value.SetWriteTotalC(AnyInt(in_));
        port_.SetTimeouts(value);
        FUZZ_CHECK(port_.Timeouts().ReadInterval() == value.ReadInterval());
        FUZZ_CHECK(port_.Timeouts().ComPort() == &port_);
        return;
      }
      case 26: {
        serial::TComBuffer value;
        value.SetInputSize(AnyInt(in_));
        value.SetOutputSize(AnyInt(in_));
        port_.SetBuffer(value);
        FUZZ_CHECK(port_.Buffer().InputSize() == value.InputSize());
        FUZZ_CHECK(port_.Buffer().ComPort() == &port_);
        return;
      }
      case 27: {
        const auto v = AnyEnum<serial::TSyncMethod>(in_);
        const bool settable = !port_.Connected() || loading_;
        const auto before = port_.SyncMethod();
        try {
          port_.SetSyncMethod(v);
        } catch (const serial::EComPort& e) {
          FUZZ_CHECK(e.ErrorCode() == serial::ecode::kWhileConnected && !settable);
          FUZZ_CHECK(port_.SyncMethod() == before);
          throw;
        }
        FUZZ_CHECK(port_.SyncMethod() == v);
        return;
      }
      case 28: {
        const auto v = AnyEnum<serial::TThreadPriority>(in_);
        port_.SetEventThreadPriority(v);
        FUZZ_CHECK(port_.EventThreadPriority() == v);
        return;
      }
      case 29:
        port_.SetTriggersOnRxChar(in_.Bool());
        FUZZ_CHECK(!rxLinked_);
        return;
      case 30: {
        // The port keeps its empty Events (see the constructor); the mask mapping is fuzzed
        // instead: any mask gives a set whose mask is the mask's known bits.
        const uint32_t mask = in_.U16();
        const serial::TComEvents events = serial::IntToEvents(mask);
        FUZZ_CHECK(serial::EventsToInts(events) ==
                   (mask & serial::EventsToInts(serial::kAllComEvents)));
        FUZZ_CHECK(serial::IntToEvents(serial::EventsToInts(events)) == events);
        return;
      }
      case 31: {
        // A new name on an open port closes it and opens it on that name.
        const std::string name = AnyName(in_);
        const bool reopens = name != port_.Port() && port_.Connected() && !loading_;
        if (reopens) kind_ = Kind::other;
        port_.SetPort(name);
        FUZZ_CHECK(port_.Port() == name);
        if (reopens) {
          FUZZ_CHECK(line_->OpenName() == name);
          SentAll();
        }
        return;
      }
      case 32:
      case 33: {
        if (loading_) return;
        const bool wasConnected = port_.Connected();
        port_.Open();
        FUZZ_CHECK(port_.Connected());
        if (!wasConnected) SentAll();
        return;
      }
      case 34:
        if (loading_) return;
        port_.Close();
        FUZZ_CHECK(!port_.Connected());
        return;
      case 35: {
        const bool on = in_.Bool();
        const bool wasConnected = port_.Connected();
        port_.SetConnected(on);
        FUZZ_CHECK(port_.Connected() == on);
        if (on && !wasConnected) SentAll();
        return;
      }
      case 36:
        port_.BeginUpdate();
        return;
      case 37: {
        const int32_t count = port_.UpdateCount();
        if (count == 1) kind_ = Kind::other;
        port_.EndUpdate();
        FUZZ_CHECK(port_.UpdateCount() == (count > 0 ? count - 1 : 0));
        if (count == 1) SentAll();
        return;
      }
      case 38: {
        const char* operation = kOperations[in_.Byte() % std::size(kOperations)];
        const int error = kErrors[in_.Byte() % std::size(kErrors)];
        line_->SetFailure(operation, error);
        failed_[operation] = error;
        failures_ = 0;
        for (const auto& [name, value] : failed_) failures_ += value != 0 ? 1 : 0;
        if (error != 0) driverFresh_ = false;
        return;
      }
      case 39:
        // A form being read: only while the port is closed, as a port is loaded before use.
        if (!loading_ && !port_.HandleValid() && !port_.Connected()) {
          port_.SetComponentState({false, true});
          loading_ = true;
        } else if (loading_) {
          loading_ = false;
          port_.Loaded();
          FUZZ_CHECK(!port_.ComponentState().Loading);
          SentAll();
        }
        return;
      case 40: {
        serial::TComLink* link = in_.Bool() ? &rxLink_ : &connLink_;
        bool& registered = link == &rxLink_ ? rxLinked_ : connLinked_;
        if (in_.Bool()) {
          port_.RegisterLink(link);
          registered = true;
        } else {
          port_.UnRegisterLink(link);
          registered = false;
        }
        FUZZ_CHECK(port_.HasLink() == rxLinked_);
        return;
      }
      case 41: {
        const std::string text(in_.Bytes(in_.Byte() % 32));
        const int32_t sent = port_.WriteStr(text);
        FUZZ_CHECK(sent >= 0 && sent <= static_cast<int32_t>(text.size()));
        return;
      }
      case 42: {
        line_->PutInput(in_.Bytes(in_.Byte() % 32));
        const int32_t want = static_cast<int32_t>(in_.Byte() % 40) - 4;
        std::string text = "stale";
        const int32_t got = port_.ReadStr(text, want);
        FUZZ_CHECK(got >= 0 && got <= (want > 0 ? want : 0));
        FUZZ_CHECK(text.size() == static_cast<size_t>(got));
        return;
      }
      case 43:
        switch (in_.Byte() % 5) {
          case 0:
            FUZZ_CHECK(port_.InputCount() >= 0);
            break;
          case 1:
            FUZZ_CHECK(port_.OutputCount() >= 0);
            break;
          case 2:
            port_.LastErrors();
            break;
          case 3:
            port_.Signals();
            break;
          default:
            port_.StateFlags();
            break;
        }
        return;
      case 44:
        switch (in_.Byte() % 5) {
          case 0:
            port_.SetDTR(in_.Bool());
            break;
          case 1:
            port_.SetRTS(in_.Bool());
            break;
          case 2:
            port_.SetBreak(in_.Bool());
            break;
          case 3:
            port_.SetXonXoff(in_.Bool());
            break;
          default:
            port_.TransmitChar(static_cast<char>(in_.Byte()));
            break;
        }
        return;
      case 45:
        port_.ClearBuffer(in_.Bool(), in_.Bool());
        return;
      case 46:
        port_.SetupComPort();
        SentAll();
        return;
      default: {
        line_->RaiseErrors(in_.U16());
        line_->SetModemStatus(in_.Byte());
        return;
      }
    }
  }

  fuzz::TInput& in_;
  Kind kind_ = Kind::other;
  std::shared_ptr<platform::FakeLine> line_ = std::make_shared<platform::FakeLine>(kLineNames);
  // Links outlive the port, which neither owns nor frees them.
  serial::TComLink rxLink_;
  serial::TComLink connLink_;
  TComPort port_;
  bool rxLinked_ = false;
  bool connLinked_ = false;
  bool loading_ = false;
  bool driverFresh_ = false;
  int failures_ = 0;
  std::map<std::string, int> failed_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  platform::SetExceptionHandler([](std::exception_ptr) {});
  fuzz::TInput in(data, size);
  std::shared_ptr<const platform::FakeLine> line;
  {
    THarness harness(in);
    line = harness.Line();
    harness.Run();
  }
  // The port closes its device as it goes.
  FUZZ_CHECK(!line->IsOpen());
  return 0;
}
