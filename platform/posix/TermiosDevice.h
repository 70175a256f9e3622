#pragma once
// One open terminal device behind the ComDevice seam. The device keeps its own input queue
// (sized by SetupComm) that a service thread fills from the driver; reads take from it, so a
// comm-event wait never takes bytes away from a read. Transfers that cannot finish at once go
// on in the service thread, one poll() over the device and a wake-up descriptor, with the
// deadlines the time-outs give; a thread that waits for its read, or the event thread for
// received bytes, polls the device itself meanwhile, so the bytes reach it without a hop
// through the service thread. All state below is guarded by mutex_.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "platform/ComDevice.h"
#include "platform/posix/Kernel.h"
#include "platform/posix/LineConfig.h"
#include "platform/posix/ReceiveDecoder.h"
#include "platform/posix/Timeouts.h"

namespace platform::posix {

using Clock = std::chrono::steady_clock;

// The driver's error and modem-line counters (as far as the driver keeps them).
struct TLineCounters {
  uint32_t frame = 0, parity = 0, overrun = 0, brk = 0, bufOverrun = 0;
  uint32_t cts = 0, dsr = 0, dcd = 0, rng = 0;
};

// The modem input lines, and their counters where the driver keeps them.
struct TModemState {
  int lines = 0;
  bool counted = false;
  TLineCounters counters;
};

class TTermiosDevice final : public ComDevice {
 public:
  // Takes over an open descriptor that already holds the exclusive lock; closes it on failure.
  static std::unique_ptr<ComDevice> Create(const TKernel& kernel, int fd, int& error);
  ~TTermiosDevice() override;
  TTermiosDevice(const TTermiosDevice&) = delete;
  TTermiosDevice& operator=(const TTermiosDevice&) = delete;

  int SetupComm(uint32_t inQueue, uint32_t outQueue) override;
  int SetCommState(const TDCB& dcb) override;
  int SetCommTimeouts(const TCommTimeouts& timeouts) override;
  int ReadFile(void* buffer, uint32_t count, uint32_t* done, TOverlapped* ov) override;
  int WriteFile(const void* buffer, uint32_t count, uint32_t* done, TOverlapped* ov) override;
  int GetOverlappedResult(TOverlapped* ov, uint32_t* done, bool wait) override;
  int CancelIo(TOverlapped* ov) override;
  int ClearCommError(uint32_t* errors, TComStat* stat) override;
  int PurgeComm(uint32_t flags) override;
  int EscapeCommFunction(uint32_t function) override;
  int GetCommModemStatus(uint32_t* status) override;
  int TransmitCommChar(char c) override;
  int SetCommMask(uint32_t mask) override;
  int WaitCommEvent(uint32_t* mask, TOverlapped* ov) override;
  uint32_t WaitStopOrCompletion(TEvent& stop, TOverlapped& ov) override;
  uint32_t WaitCompletion(TOverlapped& ov, TEvent* stop, uint32_t timeout) override;

 private:
  struct TTransfer {
    TOverlapped* ov = nullptr;
    uint8_t* in = nullptr;         // a read's buffer
    const uint8_t* out = nullptr;  // a write's bytes
    uint32_t count = 0;
    uint32_t done = 0;
    bool started = false;  // the front one of its kind runs, the others wait their turn
    TReadPlan plan;
    std::optional<Clock::time_point> deadline;
    std::optional<Clock::duration> interval;
    Clock::time_point lastByte;
  };
  struct TEventWait {
    TOverlapped* ov = nullptr;
    uint32_t* mask = nullptr;
  };

  TTermiosDevice(const TKernel& kernel, int fd, int wakeFd);
  void Start();
  int InitLine();  // an error when there is no port behind the descriptor

  // --- completion of records (Transfer.cpp)
  static void Begin(TOverlapped* ov);
  void Complete(TOverlapped* ov, int result, uint32_t done);
  int Await(TOverlapped& ov, uint32_t* done);
  void WaitFinished(std::unique_lock<std::mutex>& lock, TOverlapped& ov);
  void DriveRead(std::unique_lock<std::mutex>& lock, TOverlapped& ov);
  // One poll of a waiting thread that takes the input itself, until `until` if given.
  struct TPolledInput {
    bool failed = false;  // the device had nothing to tell: the service thread goes on alone
    bool hungUp = false;
    bool stopped = false;
  };
  TPolledInput PollForInput(std::unique_lock<std::mutex>& lock, TOverlapped& ov, TEvent* stop,
                            std::optional<Clock::time_point> until);
  // A comm-event wait that received bytes end, served from its waiting thread until it ends,
  // `stop` (if any) is set or `until` (if given) passes.
  bool ServesEventWait(const TOverlapped& ov) const;
  TPolledInput DriveEventWait(std::unique_lock<std::mutex>& lock, TOverlapped& ov, TEvent* stop,
                              std::optional<Clock::time_point> until);
  std::optional<Clock::time_point> ReadDeadline() const;
  void WakeCaller();
  void WakeCallerForRoom();
  void EndDrive();
  bool ServiceTakesInput(Clock::time_point now);
  bool InUse(const TOverlapped* ov) const;
  void Wake();
  void WakeIfNeeded();
  bool NeedsWake();  // marks the service thread as woken; the caller then calls Wake
  bool ArmTimer(Clock::time_point at);
  int StartTransfer(TTransfer transfer, bool receive, uint32_t* done);

  // --- the service thread, receiving and transmitting (ServiceThread.cpp, Receive.cpp,
  // Transmit.cpp)
  void ServiceLoop();
  // `caller`: a thread that starts a transfer, not the service thread, which polls the device.
  // `driverEmpty`: the driver was just seen to hold no input.
  void ProgressReceive(Clock::time_point now, bool caller = false, bool driverEmpty = false);
  // Why taking from the driver stopped: no room left, nothing more there, or the front read
  // is full and the driver may hold more.
  enum class TPulled { kNoRoom, kDrained, kReadFilled };
  TPulled Pull();
  size_t InputRoom() const;
  TTransfer* DirectRead();
  void AcceptInPlace(TTransfer& read, size_t count);
  void Accept(const uint8_t* raw, size_t count);
  uint32_t MarkedErrors(const TReceiveMarks& marks);
  void RaiseReceived(const uint8_t* bytes, size_t count);
  void StartRead(TTransfer& read, Clock::time_point now);
  void TakeQueued(TTransfer& read, Clock::time_point now);
  bool ReadFinished(const TTransfer& read, Clock::time_point now) const;
  void ProgressTransmit(Clock::time_point now);
  bool WriteSome(const uint8_t* bytes, uint32_t count, uint32_t& written);
  uint32_t KernelOutQueue();
  void ScheduleDrainCheck(Clock::time_point now, uint32_t outq);
  bool TransmitterBusy();
  void FinishTimedOutWrite(TTransfer& w);
  std::optional<Clock::time_point> NextDeadline() const;
  bool HungUp() const;
  void Vanish(int error);
  void AbortTransfers(std::deque<TTransfer>& transfers, int error);

  // --- line state (LineControl.cpp)
  void Unmark(TTermiosFlags& flags) const;
  int ApplyLine(const TTermiosFlags& flags, const TLineOptions& options);
  int CheckDivisor(uint32_t baudRate);
  int ApplyPins(const TLineOptions& options);
  int SetModemBits(int bits, bool on);
  bool DsrOn();
  bool OutputHeld() { return options_.outDsrFlow && !DsrOn(); }
  void RaiseRtsForSend();
  uint32_t SampleCounters();  // adds what changed to the error flags and returns it
  void AddErrors(uint32_t flags);
  // The input a read would hand over now; `wake` when the service thread must look again.
  size_t WaitingInput(bool& wake);

  // --- comm events (CommEvents.cpp)
  void RaiseEvents(uint32_t events);
  void CheckQueueLevel();
  static void InstallWakeSignal();  // before the first watcher can be signalled
  void StartModemWatcher();
  void WatchModemLines(TModemState last);
  void RewatchModemLines();  // after a line change, which may have ended the driver's watch
  void StopModemWatcher();

  const TKernel& k_;  // every call on fd_ goes through it
  const int fd_;
  const int wakeFd_;
  int timerFd_ = -1;       // rings at a deadline that came after the service thread began to poll
  int callerWakeFd_ = -1;  // ends the poll of a caller that waits for its read itself
  // The read whose caller polls the device itself, so its bytes reach it without a hop through
  // the service thread; whoever else finishes that read wakes the caller.
  const TOverlapped* driven_ = nullptr;
  bool drivenIn_ = false;          // its poll asks for input; without, room made later must wake it
  bool callerTakesInput_ = false;  // a waiting thread polls for input, not the service thread
  std::optional<Clock::time_point> handBackAt_;  // and, until then, will be back for it
  std::mutex mutex_;
  std::condition_variable completed_;

  bool stopping_ = false;
  int gone_ = 0;  // the error of a device that went away; 0 while it is there
  std::thread service_;
  // What the service thread polls with while it sleeps, so a caller wakes it only when needed.
  bool polling_ = false;
  bool polledIn_ = false;
  bool polledOut_ = false;
  std::optional<Clock::time_point> polledDeadline_;

  // input
  size_t capacity_ = 4096;
  std::deque<uint8_t> queue_;
  std::vector<uint8_t> raw_;  // what the driver hands over for the queue, before decoding
  std::vector<uint8_t> decoded_;
  TReceiveDecoder decoder_;
  std::deque<TTransfer> reads_;

  // output
  std::deque<TTransfer> writes_;
  std::optional<uint8_t> priorityChar_;  // TransmitCommChar's byte, ahead of the writes
  bool wantOutput_ = false;              // the driver's queue was full: wait for room
  bool txBusy_ = false;                  // bytes went to the driver and have not drained yet
  Clock::time_point wireEnd_{};          // when the bytes written have left at the line's rate
  std::optional<Clock::time_point> drainAt_;
  Clock::duration drainBackoff_{};
  uint32_t lastOutq_ = 0;
  bool rtsRaised_ = false;  // RTS up for a transmission we toggle ourselves
  std::optional<Clock::time_point> rtsDropAt_;

  // line
  TCommTimeouts timeouts_;
  TLineOptions options_;
  Clock::duration charTime_ = std::chrono::microseconds(1042);
  bool pseudoTerminal_ = false;  // no line behind it: the character format has no meaning
  bool hasModemLines_ = false;
  bool hasCounters_ = false;
  bool lsrReadable_ = true;
  bool rs485Known_ = false;   // the driver has RS-485 mode; its own setting is kept in rs485Saved_
  bool rs485Active_ = false;  // the driver raises RTS around transmission itself
  std::vector<uint8_t> rs485Saved_;
  TLineCounters counters_;
  uint32_t errors_ = 0;  // CE_ flags since the last ClearCommError
  bool abortedByError_ = false;

  // comm events
  uint32_t commMask_ = 0;
  uint32_t history_ = 0;  // events of the mask seen while no wait was pending
  std::optional<TEventWait> wait_;
  bool above80_ = false;

  // modem-line watcher: blocked in the driver until a line changes
  std::thread watcher_;
  bool watcherDone_ = false;
  bool rewatch_ = false;  // the watcher reads the lines again and waits anew
  std::condition_variable watcherEnded_;
  std::condition_variable watcherWake_;  // ends the pause between two looks at the lines
};

}  // namespace platform::posix
