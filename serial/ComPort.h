#pragma once
// The serial port component. TCustomComPort holds the whole logic: the line settings and the
// rule by which they reach the driver, opening and closing the device, synchronous and
// overlapped transfer, modem lines and errors, the registered links and the delivery of line
// events to them and to the port's own handlers. TComPort is the port an application places.
//
// A setting changed while the port is closed is only stored; while open it reaches the driver
// at once, unless BeginUpdate holds it back until the matching EndUpdate.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "../platform/ComDevice.h"
#include "Async.h"
#include "ComError.h"
#include "ComLink.h"
#include "ComSettings.h"
#include "ComStorage.h"
#include "../platform/Export.h"

namespace platform {
class THiddenWindow;
class TEvent;
}  // namespace platform

namespace serial {

class TComThread;

// The message the event thread sends to the port's hidden window for each detected event, with
// the event's platform flag as wParam: the platform's first user message plus one.
inline constexpr uint32_t PortEventMessage = 0x0401;

// One message to a window procedure, with the procedure's result.
struct VALTREX_API TMessage {
  uint32_t Msg = 0;
  uintptr_t WParam = 0;
  intptr_t LParam = 0;
  intptr_t Result = 0;
};

// Whether the component is being edited in a designer or read from a form description. In
// both states settings are stored but not applied and the port is not opened.
struct VALTREX_API TComponentState {
  bool Designing = false;
  bool Loading = false;
};

class VALTREX_API TCustomComPort {
 public:
  TCustomComPort();
  // Closes an open port first; a failure of that close goes to the application's exception
  // handler, never out of the destructor.
  virtual ~TCustomComPort();
  TCustomComPort(const TCustomComPort&) = delete;
  TCustomComPort& operator=(const TCustomComPort&) = delete;

  // --- Settings storage: every setting to or from a registry key or a section of an INI file,
  // through Storage(). With no storage installed they raise "Failed to store settings" or
  // "Failed to load settings".
  virtual void StoreRegistry(const std::string& keyPath) const;
  virtual void StoreIniFile(const std::string& fileName, const std::string& section) const;
  virtual void LoadRegistry(const std::string& keyPath);
  virtual void LoadIniFile(const std::string& fileName, const std::string& section);
  // The port's own storage, or the process's default while it has none.
  std::shared_ptr<const TComStorage> Storage() const;
  void SetStorage(std::shared_ptr<const TComStorage> value) { storage_ = std::move(value); }

  // --- Component state
  TComponentState ComponentState() const { return state_; }
  void SetComponentState(TComponentState state) { state_ = state; }
  // After the form description has been read: ends loading and opens a port stored as
  // connected; a failure goes to the application's exception handler.
  virtual void Loaded();

  // --- Settings
  TBaudRate BaudRate() const { return baudRate_; }
  void SetBaudRate(TBaudRate value);
  int32_t CustomBaudRate() const { return customBaudRate_; }
  void SetCustomBaudRate(int32_t value);
  const std::string& Port() const { return port_; }
  // A new name on an open port closes it and opens it again on that name.
  void SetPort(const std::string& value);
  TStopBits StopBits() const { return stopBits_; }
  void SetStopBits(TStopBits value);
  TDataBits DataBits() const { return dataBits_; }
  void SetDataBits(TDataBits value);
  bool DiscardNull() const { return discardNull_; }
  void SetDiscardNull(bool value);
  char EventChar() const { return eventChar_; }
  void SetEventChar(char value);

  // The events the event thread watches; read at the next Open.
  TComEvents Events = kAllComEvents;

  TSyncMethod SyncMethod() const { return syncMethod_; }
  void SetSyncMethod(TSyncMethod value);
  TThreadPriority EventThreadPriority() const { return eventThreadPriority_; }
  void SetEventThreadPriority(TThreadPriority value);
  // False while a link listens for received buffers: such a link makes the port read.
  bool TriggersOnRxChar() const { return triggersOnRxChar_ && !rxBufLinked_; }
  void SetTriggersOnRxChar(bool value);

  TComParity& Parity() { return parity_; }
  const TComParity& Parity() const { return parity_; }
  TComFlowControl& FlowControl() { return flowControl_; }
  const TComFlowControl& FlowControl() const { return flowControl_; }
  TComTimeouts& Timeouts() { return timeouts_; }
  const TComTimeouts& Timeouts() const { return timeouts_; }
  TComBuffer& Buffer() { return buffer_; }
  const TComBuffer& Buffer() const { return buffer_; }
  // Whole-object setters copy the fields and always apply.
  void SetParity(const TComParity& value);
  void SetFlowControl(const TComFlowControl& value);
  void SetTimeouts(const TComTimeouts& value);
  void SetBuffer(const TComBuffer& value);

  int32_t UpdateCount() const { return updateCount_; }
  void BeginUpdate();
  void EndUpdate();

  // Buffers, then line, then time-outs.
  virtual void SetupComPort();
  virtual void ApplyBuffer();
  virtual void ApplyDCB();
  virtual void ApplyTimeouts();
  // The records the settings make, whether or not they can reach a driver now.
  platform::TDCB BuildDCB() const;
  platform::TCommTimeouts BuildTimeouts() const;

  // --- Lifecycle
  bool Connected() const { return connected_; }
  void SetConnected(bool value);
  void Open();
  void Close();
  // Where CreateHandle gets its device (platform::OpenComDevice unless replaced).
  void SetDeviceOpener(platform::ComDeviceOpener opener);
  // The open device, or the device behind the invalid handle while none is open.
  platform::ComDevice& Handle() const;
  bool HandleValid() const { return handle_ != nullptr; }
  bool ThreadCreated() const { return eventThread_ != nullptr; }
  // The running event thread, if any; its hidden window while deliveries go through one.
  const TComThread* EventThread() const { return eventThread_.get(); }
  platform::THiddenWindow* NotifyWindow() const { return notifyWindow_.get(); }

  // --- Transfer. A count of 0 or less transfers nothing and gives 0.
  void InitAsync(std::unique_ptr<TAsync>& async);
  // Cancels an operation that still runs before the record goes.
  void DoneAsync(std::unique_ptr<TAsync>& async);
  // Ends the operation a record is used for, if it still runs, and drops its copy of the data:
  // the record may then start another.
  void EndAsync(TAsync& async);
  int32_t WriteAsync(const void* buffer, int32_t count, TAsync* async);
  int32_t ReadAsync(void* buffer, int32_t count, TAsync* async);
  int32_t WaitForAsync(TAsync* async);
  bool IsAsyncCompleted(TAsync* async);
  int32_t Write(const void* buffer, int32_t count);
  int32_t Read(void* buffer, int32_t count);
  int32_t WriteStrAsync(const std::string& text, TAsync* async);
  int32_t WriteStr(const std::string& text);
  int32_t ReadStrAsync(std::string& text, int32_t count, TAsync* async);
  int32_t ReadStr(std::string& text, int32_t count);
  void AbortAllAsync();
  void ClearBuffer(bool input, bool output);

  // --- Line state
  int32_t InputCount();
  int32_t OutputCount();
  TComSignals Signals();
  TComStateFlags StateFlags();
  // The errors the driver reports now, with those any earlier count query took from it.
  TComErrors LastErrors();
  void SetDTR(bool on);
  void SetRTS(bool on);
  void SetBreak(bool on);
  void SetXonXoff(bool on);
  void TransmitChar(char ch);

  // --- Links
  void RegisterLink(TComLink* link);
  void UnRegisterLink(TComLink* link);
  // True when a registered link listens for received buffers.
  bool HasLink() const;
  void SendSignalToLink(TComLinkEvent event, bool onOff);
  void NotifyLink(TComLinkEvent event);
  void TxNotifyLink(const void* buffer, int32_t count);
  // Tells the links that a setting changed; while an update holds the settings back it only
  // notes it, and the EndUpdate that ends the hold tells them once.
  void SettingsNotifyLink();

  // --- Delivery of line events: the port's own reaction, then the links, then its handlers.
  void CallBeforeOpen();
  void CallAfterOpen();
  void CallBeforeClose();
  void CallAfterClose();
  void CheckSignals(bool open);
  void CallRxChar();
  void CallTxEmpty();
  void CallBreak();
  void CallRing();
  void CallCTSChange();
  void CallDSRChange();
  void CallRLSDChange();
  void CallRxFlag();
  void CallError();
  void CallRx80Full();
  void CallEvent(TComEvent event);
  // Every member of a detected set, in the fixed delivery order.
  void CallEvents(TComEvents events);
  // The procedure of the hidden window: an event's flag in, its Call method run.
  void WindowMethod(TMessage& message);

  // Waits, without the event thread, for any of `events` (given back as the ones that came, or
  // none after `stopEvent` or the time-out in milliseconds). `stopEvent` may be null.
  void WaitForEvent(TComEvents& events, platform::TEvent* stopEvent, int32_t timeout);

  // --- Handlers
  TNotifyEvent OnAfterOpen;
  TNotifyEvent OnAfterClose;
  TNotifyEvent OnBeforeOpen;
  TNotifyEvent OnBeforeClose;
  TRxCharEvent OnRxChar;
  TRxBufEvent OnRxBuf;
  TNotifyEvent OnTxEmpty;
  TNotifyEvent OnBreak;
  TNotifyEvent OnRing;
  TComSignalEvent OnCTSChange;
  TComSignalEvent OnDSRChange;
  TComSignalEvent OnRLSDChange;
  TNotifyEvent OnRxFlag;
  TComErrorEvent OnError;
  TNotifyEvent OnRx80Full;

 protected:
  virtual void CreateHandle();
  virtual void DestroyHandle();

  virtual void DoAfterClose();
  virtual void DoAfterOpen();
  virtual void DoBeforeClose();
  virtual void DoBeforeOpen();
  virtual void DoRxChar(int32_t count);
  virtual void DoRxBuf(const void* buffer, int32_t count);
  virtual void DoTxEmpty();
  virtual void DoBreak();
  virtual void DoRing();
  virtual void DoRxFlag();
  virtual void DoCTSChange(bool onOff);
  virtual void DoDSRChange(bool onOff);
  virtual void DoError(TComErrors errors);
  virtual void DoRLSDChange(bool onOff);
  virtual void DoRx80Full();

 private:
  struct Registered {
    TComLink* link;
    uint64_t serial;  // tells a link removed and added again from the one a walk started with
  };

  bool CanApply() const;
  bool Settable() const;
  void Escape(uint32_t function);
  platform::TComStat QueryStatus();
  void StartEventThread();
  void StopEventThread();
  void ReapRetiredThreads();
  template <typename F>
  void ForEachLink(F call);

  // Settings
  TBaudRate baudRate_ = br9600;
  int32_t customBaudRate_ = 9600;
  std::string port_ = "COM1";
  TStopBits stopBits_ = sbOneStopBit;
  TDataBits dataBits_ = dbEight;
  bool discardNull_ = false;
  char eventChar_ = 0;
  TSyncMethod syncMethod_ = smThreadSync;
  TThreadPriority eventThreadPriority_ = tpNormal;
  bool triggersOnRxChar_ = true;
  TComParity parity_;
  TComFlowControl flowControl_;
  TComTimeouts timeouts_;
  TComBuffer buffer_;
  int32_t updateCount_ = 0;
  TComponentState state_;
  std::shared_ptr<const TComStorage> storage_;

  // State
  bool connected_ = false;
  std::unique_ptr<platform::ComDevice> handle_;
  std::unique_ptr<platform::THiddenWindow> notifyWindow_;
  std::unique_ptr<TComThread> eventThread_;
  // Threads stopped by a Close inside their own delivery: they end once it returns, and the next
  // Open or the destructor collects them.
  std::vector<std::unique_ptr<TComThread>> retired_;
  // From the start of Close to its end: deliveries still in flight reach nobody.
  std::atomic<bool> closing_{false};
  platform::ComDeviceOpener opener_;
  // Driver error flags that a count query cleared before LastErrors could report them.
  uint32_t pendingErrors_ = 0;

  // Links
  std::vector<Registered> links_;
  uint64_t nextLinkSerial_ = 0;
  bool rxBufLinked_ = false;
  bool settingsChangeHeld_ = false;
};

// The port as an application places it; all of it lives in TCustomComPort.
class VALTREX_API TComPort : public TCustomComPort {
 public:
  TComPort() = default;
};

}  // namespace serial
