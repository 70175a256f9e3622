#pragma once
/// \file
/// The serial port component. TCustomComPort holds the whole logic: the line settings and the
/// rule by which they reach the driver, opening and closing the device, synchronous and
/// overlapped transfer, modem lines and errors, the registered links and the delivery of line
/// events to them and to the port's own handlers. TComPort is the port an application places.
///
/// A setting changed while the port is closed is only stored; while open it reaches the driver
/// at once, unless BeginUpdate holds it back until the matching EndUpdate.

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

/// The serial port component: the port (TComPort), its settings, links and errors, and in
/// serial/extras the accessories without a window.
namespace serial {

class TComThread;

/// The message the event thread sends to the port's hidden window for each detected event, with
/// the event's platform flag as wParam: the platform's first user message plus one.
inline constexpr uint32_t PortEventMessage = 0x0401;

/// One message to a window procedure, with the procedure's result.
struct VALTREX_API TMessage {
  uint32_t Msg = 0;      ///< the message number
  uintptr_t WParam = 0;  ///< its first value; for PortEventMessage the event's platform flag
  intptr_t LParam = 0;   ///< its second value
  intptr_t Result = 0;   ///< what the procedure replies
};

/// Whether the component is being edited in a designer or read from a form description. In
/// both states settings are stored but not applied and the port is not opened.
struct VALTREX_API TComponentState {
  bool Designing = false;  ///< edited in a designer: Open and Close do nothing
  bool Loading = false;    ///< being read: Loaded ends it and opens a port stored as connected
};

/// The port with its whole logic. TComPort is the one an application places; a descendant
/// overrides the protected Do methods to react to line events itself.
class VALTREX_API TCustomComPort {
 public:
  /// A closed port on "COM1" at 9600 bits per second, 8 data bits, no parity, one stop bit, no
  /// flow control, every event watched and delivered on the main thread.
  TCustomComPort();
  /// Closes an open port first; a failure of that close goes to the application's exception
  /// handler, never out of the destructor.
  virtual ~TCustomComPort();
  TCustomComPort(const TCustomComPort&) = delete;
  TCustomComPort& operator=(const TCustomComPort&) = delete;

  /// @name Settings storage
  /// Every setting to or from a registry key or a section of an INI file, through Storage().
  /// With no storage installed they raise "Failed to store settings" or "Failed to load
  /// settings".
  ///@{

  /// Stores every setting under the key of the current user's registry.
  virtual void StoreRegistry(const std::string& keyPath) const;
  /// Stores every setting in the section of the INI file, keeping the rest of the file.
  virtual void StoreIniFile(const std::string& fileName, const std::string& section) const;
  /// Loads the settings stored under the key.
  virtual void LoadRegistry(const std::string& keyPath);
  /// Loads the settings stored in the section of the INI file.
  virtual void LoadIniFile(const std::string& fileName, const std::string& section);
  /// The port's own storage, or the process's default while it has none.
  std::shared_ptr<const TComStorage> Storage() const;
  /// Gives the port a storage of its own; null falls back to the process's default.
  void SetStorage(std::shared_ptr<const TComStorage> value) { storage_ = std::move(value); }
  ///@}

  /// @name Component state
  ///@{

  /// Whether the port is in a designer or being read from a form description.
  TComponentState ComponentState() const { return state_; }
  /// Enters or leaves those states; a form reader sets Loading before it gives the port its
  /// stored settings.
  void SetComponentState(TComponentState state) { state_ = state; }
  /// After the form description has been read: ends loading and opens a port stored as
  /// connected; a failure goes to the application's exception handler.
  virtual void Loaded();
  ///@}

  /// @name Settings
  /// A setting changed while the port is closed is only stored; while open it reaches the driver
  /// at once, unless BeginUpdate holds it back. A value the driver refuses raises EComPort, and
  /// the port keeps it all the same.
  ///@{

  /// The bit rate; brCustom takes CustomBaudRate().
  TBaudRate BaudRate() const { return baudRate_; }
  /// Sets the bit rate.
  void SetBaudRate(TBaudRate value);
  /// Bits per second while BaudRate() is brCustom: any rate the device can make.
  int32_t CustomBaudRate() const { return customBaudRate_; }
  /// Sets the custom rate; it reaches the line only while BaudRate() is brCustom.
  void SetCustomBaudRate(int32_t value);
  /// The device's name: "COM1" to "COMn", a path, or a name under /dev.
  const std::string& Port() const { return port_; }
  /// A new name on an open port closes it and opens it again on that name.
  void SetPort(const std::string& value);
  /// Stop bits after each character.
  TStopBits StopBits() const { return stopBits_; }
  /// Sets the stop bits.
  void SetStopBits(TStopBits value);
  /// Data bits of each character.
  TDataBits DataBits() const { return dataBits_; }
  /// Sets the data bits.
  void SetDataBits(TDataBits value);
  /// Whether the driver drops received NUL bytes.
  bool DiscardNull() const { return discardNull_; }
  /// Has the driver drop received NUL bytes, or keep them.
  void SetDiscardNull(bool value);
  /// The character whose arrival raises evRxFlag.
  char EventChar() const { return eventChar_; }
  /// Sets the event character.
  void SetEventChar(char value);

  /// The events the event thread watches; read at the next Open.
  TComEvents Events = kAllComEvents;

  /// How line events reach the handlers: on the main thread, the event thread waiting for them
  /// (smThreadSync); through a hidden window that releases the event thread at once
  /// (smWindowSync); or on the event thread itself (smNone).
  TSyncMethod SyncMethod() const { return syncMethod_; }
  /// Sets the delivery method; only while the port is closed, else EComPort code 14.
  void SetSyncMethod(TSyncMethod value);
  /// The priority the event thread runs at.
  TThreadPriority EventThreadPriority() const { return eventThreadPriority_; }
  /// Sets the event thread's priority; only while the port is closed, else EComPort code 14.
  void SetEventThreadPriority(TThreadPriority value);
  /// False while a link listens for received buffers: such a link makes the port read.
  /// True: a receive event calls OnRxChar with the count waiting and reads nothing; false: the
  /// port reads what waits and hands it to OnRxBuf and the links.
  bool TriggersOnRxChar() const { return triggersOnRxChar_ && !rxBufLinked_; }
  /// Chooses between the two; raises EComPort code 22 while a link listens for buffers.
  void SetTriggersOnRxChar(bool value);

  /// The parity settings, changed in place through their setters.
  TComParity& Parity() { return parity_; }
  /// The parity settings, to read.
  const TComParity& Parity() const { return parity_; }
  /// The flow control settings, changed in place through their setters.
  TComFlowControl& FlowControl() { return flowControl_; }
  /// The flow control settings, to read.
  const TComFlowControl& FlowControl() const { return flowControl_; }
  /// The time-outs, changed in place through their setters.
  TComTimeouts& Timeouts() { return timeouts_; }
  /// The time-outs, to read.
  const TComTimeouts& Timeouts() const { return timeouts_; }
  /// The driver's queue sizes, changed in place through their setters.
  TComBuffer& Buffer() { return buffer_; }
  /// The driver's queue sizes, to read.
  const TComBuffer& Buffer() const { return buffer_; }
  /// Whole-object setters copy the fields and always apply.
  void SetParity(const TComParity& value);
  /// Copies every flow control field and applies the line once.
  void SetFlowControl(const TComFlowControl& value);
  /// Copies every time-out and applies them once.
  void SetTimeouts(const TComTimeouts& value);
  /// Copies both queue sizes and applies them once.
  void SetBuffer(const TComBuffer& value);

  /// How many BeginUpdate calls await their EndUpdate.
  int32_t UpdateCount() const { return updateCount_; }
  /// Holds changed settings back from the driver, so that several reach it as one
  /// configuration; holds nest.
  void BeginUpdate();
  /// Ends one hold; the last one tells the links once and applies every setting.
  void EndUpdate();

  /// Buffers, then line, then time-outs.
  virtual void SetupComPort();
  /// Hands the queue sizes to the driver, when the port can apply settings now.
  virtual void ApplyBuffer();
  /// Hands the line record (BuildDCB) to the driver, when the port can apply settings now.
  virtual void ApplyDCB();
  /// Hands the time-outs (BuildTimeouts) to the driver, when the port can apply settings now.
  virtual void ApplyTimeouts();
  /// The records the settings make, whether or not they can reach a driver now.
  platform::TDCB BuildDCB() const;
  /// The time-out record the settings make, whether or not it can reach a driver now.
  platform::TCommTimeouts BuildTimeouts() const;
  ///@}

  /// @name Lifecycle
  ///@{

  /// Whether the port is open (in the designer and while loading: stored as open).
  bool Connected() const { return connected_; }
  /// Opens or closes the port; in the designer and while loading only stores the state.
  void SetConnected(bool value);
  /// Opens the device, applies every setting, starts the event thread (none while Events is
  /// empty), tells the links and OnAfterOpen, then reports the lines' initial state. Does nothing
  /// on an open port. A failure at any step leaves the port closed and raises it.
  void Open();
  /// Ends the transfers in flight, stops the event thread, releases the device and tells the
  /// links and handlers; every step runs even when one fails, and the first failure is raised
  /// once the port is closed. May be called from a handler of the port's own events.
  void Close();
  /// Where CreateHandle gets its device (platform::OpenComDevice unless replaced).
  void SetDeviceOpener(platform::ComDeviceOpener opener);
  /// The open device, or the device behind the invalid handle while none is open.
  platform::ComDevice& Handle() const;
  /// Whether a device is open.
  bool HandleValid() const { return handle_ != nullptr; }
  /// Whether the event thread runs.
  bool ThreadCreated() const { return eventThread_ != nullptr; }
  /// The running event thread, if any; its hidden window while deliveries go through one.
  const TComThread* EventThread() const { return eventThread_.get(); }
  /// The hidden window of smWindowSync deliveries while the port is open; null otherwise.
  platform::THiddenWindow* NotifyWindow() const { return notifyWindow_.get(); }
  ///@}

  /// @name Transfer
  /// A count of 0 or less transfers nothing and gives 0. A failure raises EComPort with the
  /// driver's error.
  ///@{

  /// Gives `async` a fresh record, ending the operation of the one it held.
  void InitAsync(std::unique_ptr<TAsync>& async);
  /// Cancels an operation that still runs before the record goes.
  void DoneAsync(std::unique_ptr<TAsync>& async);
  /// Ends the operation a record is used for, if it still runs, and drops its copy of the data:
  /// the record may then start another.
  void EndAsync(TAsync& async);
  /// Starts writing a copy of the bytes; gives the count written when the write completed at
  /// once, else 0, and WaitForAsync gives the outcome. A record that is null or still in use
  /// raises EComPort code 4.
  int32_t WriteAsync(const void* buffer, int32_t count, TAsync* async);
  /// Starts reading up to `count` bytes into `buffer`, which must stay until the read ends;
  /// gives what WriteAsync gives.
  int32_t ReadAsync(void* buffer, int32_t count, TAsync* async);
  /// Waits for the record's operation and gives the bytes it transferred; a failed operation
  /// raises. The links hear of the bytes a write sent.
  int32_t WaitForAsync(TAsync* async);
  /// Whether the record's operation has ended, without waiting.
  bool IsAsyncCompleted(TAsync* async);
  /// Writes and waits: the bytes written, fewer when the write time-out ran out.
  int32_t Write(const void* buffer, int32_t count);
  /// Reads and waits: the bytes read, fewer when the read time-outs ran out.
  int32_t Read(void* buffer, int32_t count);
  /// WriteAsync of the text's bytes.
  int32_t WriteStrAsync(const std::string& text, TAsync* async);
  /// Write of the text's bytes.
  int32_t WriteStr(const std::string& text);
  /// ReadAsync into `text`, sized to `count` first; it must stay until the read ends.
  int32_t ReadStrAsync(std::string& text, int32_t count, TAsync* async);
  /// Read into `text`, which then holds exactly the bytes read.
  int32_t ReadStr(std::string& text, int32_t count);
  /// Ends every read and write in flight; they complete with kOperationAborted.
  void AbortAllAsync();
  /// Drops what the driver holds: received bytes not yet read (`input`), written bytes not yet
  /// sent (`output`).
  void ClearBuffer(bool input, bool output);
  ///@}

  /// @name Line state
  /// Each asks the driver; on a closed port they raise EComPort.
  ///@{

  /// Received bytes waiting to be read.
  int32_t InputCount();
  /// Written bytes not yet sent.
  int32_t OutputCount();
  /// The modem lines that are on now.
  TComSignals Signals();
  /// The driver's status: what holds the output, whether the end-of-file character came, and
  /// whether a character sent with TransmitChar waits.
  TComStateFlags StateFlags();
  /// The errors the driver reports now, with those any earlier count query took from it.
  TComErrors LastErrors();
  /// Raises or drops DTR.
  void SetDTR(bool on);
  /// Raises or drops RTS.
  void SetRTS(bool on);
  /// Holds the line in the break state, or ends it.
  void SetBreak(bool on);
  /// Lets the output go on as if XON had come (true), or holds it as if XOFF had (false).
  void SetXonXoff(bool on);
  /// Sends one character ahead of the bytes waiting in the output queue.
  void TransmitChar(char ch);
  ///@}

  /// @name Links
  /// The port neither owns nor frees a link; a link must be unregistered before it goes.
  ///@{

  /// Adds a listener; null or one registered already raises EComPort code 18.
  void RegisterLink(TComLink* link);
  /// Removes a listener; one not registered raises EComPort code 18. Safe inside a delivery: a
  /// link removed then is not called again.
  void UnRegisterLink(TComLink* link);
  /// True when a registered link listens for received buffers.
  bool HasLink() const;
  /// Calls every link's slot for the signal event with its new state.
  void SendSignalToLink(TComLinkEvent event, bool onOff);
  /// Calls every link's slot for a plain event: ring, transmit-empty, event character.
  void NotifyLink(TComLinkEvent event);
  /// Calls every link's OnTxBuf with the bytes a write sent.
  void TxNotifyLink(const void* buffer, int32_t count);
  /// Tells the links that a setting changed; while an update holds the settings back it only
  /// notes it, and the EndUpdate that ends the hold tells them once.
  void SettingsNotifyLink();
  ///@}

  /// @name Delivery of line events
  /// The port's own reaction, then the links, then its handlers. The event thread calls them as
  /// the sync method says; a program that waits with WaitForEvent calls them itself.
  ///@{

  /// Runs OnBeforeOpen.
  void CallBeforeOpen();
  /// Tells the links the port is open, runs OnAfterOpen, then reports the lines' initial state.
  void CallAfterOpen();
  /// Reports the lines as off, then runs OnBeforeClose.
  void CallBeforeClose();
  /// Tells the links the port is closed and runs OnAfterClose.
  void CallAfterClose();
  /// The lines' state to links and handlers: as read after an open (`open` true), all off
  /// before a close.
  void CheckSignals(bool open);
  /// Bytes came: OnRxChar with their count, or, when the port reads (TriggersOnRxChar false),
  /// one read handed to OnRxBuf and every listening link.
  void CallRxChar();
  /// The output queue ran empty.
  void CallTxEmpty();
  /// A break came.
  void CallBreak();
  /// The ring indicator came on.
  void CallRing();
  /// CTS changed; its state is read and reported.
  void CallCTSChange();
  /// DSR changed; its state is read and reported.
  void CallDSRChange();
  /// RLSD changed; its state is read and reported.
  void CallRLSDChange();
  /// The event character came.
  void CallRxFlag();
  /// A line error: LastErrors() goes to OnError when it holds any.
  void CallError();
  /// The input queue is 80 % full.
  void CallRx80Full();
  /// The Call method of one event.
  void CallEvent(TComEvent event);
  /// Every member of a detected set, in the fixed delivery order.
  void CallEvents(TComEvents events);
  /// The procedure of the hidden window: an event's flag in, its Call method run.
  void WindowMethod(TMessage& message);

  /// Waits, without the event thread, for any of `events` (given back as the ones that came, or
  /// none after `stopEvent` or the time-out in milliseconds). `stopEvent` may be null.
  /// A negative time-out waits without limit. With the event thread running it raises EComPort
  /// code 20.
  void WaitForEvent(TComEvents& events, platform::TEvent* stopEvent, int32_t timeout);
  ///@}

  /// @name Handlers
  /// Run where the sync method delivers, each after the links have heard of the event; an
  /// empty one is skipped.
  ///@{

  TNotifyEvent OnAfterOpen;      ///< the port opened and its settings are applied
  TNotifyEvent OnAfterClose;     ///< the port closed
  TNotifyEvent OnBeforeOpen;     ///< the port is about to open; raising keeps it closed
  TNotifyEvent OnBeforeClose;    ///< the port is about to close
  TRxCharEvent OnRxChar;         ///< bytes wait, with their count, while TriggersOnRxChar()
  TRxBufEvent OnRxBuf;           ///< bytes the port read, while it reads on receive events
  TNotifyEvent OnTxEmpty;        ///< the last written byte went out
  TNotifyEvent OnBreak;          ///< a break came
  TNotifyEvent OnRing;           ///< the ring indicator came on
  TComSignalEvent OnCTSChange;   ///< CTS changed, with its state
  TComSignalEvent OnDSRChange;   ///< DSR changed, with its state
  TComSignalEvent OnRLSDChange;  ///< RLSD changed, with its state
  TNotifyEvent OnRxFlag;         ///< the event character came
  TComErrorEvent OnError;        ///< line errors, with the set of them
  TNotifyEvent OnRx80Full;       ///< the input queue is 80 % full
  ///@}

 protected:
  /// Opens the device of Port() through the device opener; raises EComPort code 1 on failure.
  virtual void CreateHandle();
  /// Releases the device.
  virtual void DestroyHandle();

  /// Runs OnAfterClose. A descendant overrides the Do methods to react to an event itself.
  virtual void DoAfterClose();
  /// Runs OnAfterOpen.
  virtual void DoAfterOpen();
  /// Runs OnBeforeClose.
  virtual void DoBeforeClose();
  /// Runs OnBeforeOpen.
  virtual void DoBeforeOpen();
  /// Runs OnRxChar.
  virtual void DoRxChar(int32_t count);
  /// Runs OnRxBuf.
  virtual void DoRxBuf(const void* buffer, int32_t count);
  /// Runs OnTxEmpty.
  virtual void DoTxEmpty();
  /// Runs OnBreak.
  virtual void DoBreak();
  /// Runs OnRing.
  virtual void DoRing();
  /// Runs OnRxFlag.
  virtual void DoRxFlag();
  /// Runs OnCTSChange.
  virtual void DoCTSChange(bool onOff);
  /// Runs OnDSRChange.
  virtual void DoDSRChange(bool onOff);
  /// Runs OnError.
  virtual void DoError(TComErrors errors);
  /// Runs OnRLSDChange.
  virtual void DoRLSDChange(bool onOff);
  /// Runs OnRx80Full.
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

/// The port as an application places it; all of it lives in TCustomComPort.
class VALTREX_API TComPort : public TCustomComPort {
 public:
  /// A closed port with the default settings.
  TComPort() = default;
};

}  // namespace serial
