// Our own component, TComPort, on the same line: its blocking transfers, its overlapped ones,
// and the delivery of received bytes to OnRxChar in each of its delivery modes.
#include <algorithm>

#include "bench/serial/ComPortBase.h"
#include "platform/MessageLoop.h"
#include "platform/Sync.h"

namespace bench {
namespace {

// Read and Write: each call makes its record, starts the transfer and waits for it. With no
// events to watch the port starts no event thread: that row is the transfer path alone.
class ComPortSync final : public ComPortBase {
 public:
  explicit ComPortSync(bool watchEvents) : ComPortBase(serial::smThreadSync) {
    if (!watchEvents) port_.Events = {};
  }
  std::string Name() const override {
    return port_.Events.Empty() ? "TComPort Read/Write, no events" : "TComPort Read/Write";
  }
  // Without the event thread there is nothing to deliver.
  bool TakesPart(Bench b) const override { return b != Bench::Notify || !port_.Events.Empty(); }

  void RoundTrip(std::span<const uint8_t> query, std::span<uint8_t> reply) override {
    ReturnOnFirstBytes(kReplyLimitMs);
    port_.Write(query.data(), static_cast<int32_t>(query.size()));
    for (size_t got = 0; got < reply.size();) {
      const int32_t n = port_.Read(reply.data() + got, static_cast<int32_t>(reply.size() - got));
      if (n <= 0) throw std::runtime_error("no reply within the read limit");
      got += static_cast<size_t>(n);
    }
  }

  void Send(std::span<const uint8_t> data) override {
    const int32_t n = port_.Write(data.data(), static_cast<int32_t>(data.size()));
    if (static_cast<size_t>(n) != data.size()) throw std::runtime_error("write timed out");
  }

  void Receive(std::span<uint8_t> data) override {
    WaitForCount();
    const int32_t n = port_.Read(data.data(), static_cast<int32_t>(data.size()));
    if (static_cast<size_t>(n) != data.size()) throw std::runtime_error("short read");
  }

  void Idle(std::chrono::milliseconds span) override {
    ReturnOnFirstBytes(static_cast<int32_t>(span.count()));
    uint8_t byte;
    if (port_.Read(&byte, 1) != 0) throw std::runtime_error("data while idle");
  }
};

// InitAsync once per open port; the read is started before the query goes out, so it is
// already waiting when the reply comes.
class ComPortOverlapped final : public ComPortBase {
 public:
  ComPortOverlapped() : ComPortBase(serial::smThreadSync) {}
  std::string Name() const override { return "TComPort overlapped"; }
  // Its deliveries are those of the synchronous row.
  bool TakesPart(Bench b) const override { return b != Bench::Notify; }

  void Open(const std::string& path) override {
    ComPortBase::Open(path);
    port_.InitAsync(read_);
    port_.InitAsync(write_);
  }
  void Close() override {
    port_.DoneAsync(read_);
    port_.DoneAsync(write_);
    ComPortBase::Close();
  }

  void RoundTrip(std::span<const uint8_t> query, std::span<uint8_t> reply) override {
    ReturnOnFirstBytes(kReplyLimitMs);
    port_.ReadAsync(reply.data(), static_cast<int32_t>(reply.size()), read_.get());
    port_.WriteAsync(query.data(), static_cast<int32_t>(query.size()), write_.get());
    port_.WaitForAsync(write_.get());
    size_t got = 0;
    for (;;) {
      const int32_t n = port_.WaitForAsync(read_.get());
      if (n <= 0) throw std::runtime_error("no reply within the read limit");
      got += static_cast<size_t>(n);
      if (got == reply.size()) return;
      port_.ReadAsync(reply.data() + got, static_cast<int32_t>(reply.size() - got), read_.get());
    }
  }

  void Send(std::span<const uint8_t> data) override {
    port_.WriteAsync(data.data(), static_cast<int32_t>(data.size()), write_.get());
    if (static_cast<size_t>(port_.WaitForAsync(write_.get())) != data.size()) {
      throw std::runtime_error("write timed out");
    }
  }

  void Receive(std::span<uint8_t> data) override {
    WaitForCount();
    port_.ReadAsync(data.data(), static_cast<int32_t>(data.size()), read_.get());
    if (static_cast<size_t>(port_.WaitForAsync(read_.get())) != data.size()) {
      throw std::runtime_error("short read");
    }
  }

  // A read without a limit, and a wait on its event that has one; the read is then cancelled.
  void Idle(std::chrono::milliseconds span) override {
    WaitForCount();
    uint8_t byte;
    port_.ReadAsync(&byte, 1, read_.get());
    const uint32_t waited =
        platform::WaitForSingleObject(read_->Event, static_cast<uint32_t>(span.count()));
    port_.DoneAsync(read_);
    port_.InitAsync(read_);
    if (waited != platform::kWaitTimeout) throw std::runtime_error("data while idle");
  }

 private:
  std::unique_ptr<serial::TAsync> read_;
  std::unique_ptr<serial::TAsync> write_;
};

// Rows of their own for the other two delivery modes; they take part in B2, and in B4 as a
// panel waits: the event thread watching every event, the main thread serving its loop.
class ComPortDelivery final : public ComPortBase {
 public:
  ComPortDelivery(serial::TSyncMethod sync, std::string name)
      : ComPortBase(sync), name_(std::move(name)) {}
  std::string Name() const override { return name_; }
  bool TakesPart(Bench b) const override { return b == Bench::Notify || b == Bench::Idle; }
  void RoundTrip(std::span<const uint8_t>, std::span<uint8_t>) override { Unused(); }
  void Send(std::span<const uint8_t>) override { Unused(); }
  void Receive(std::span<uint8_t>) override { Unused(); }

  void Idle(std::chrono::milliseconds span) override {
    Expect();
    platform::WaitServingMessages(ran_, static_cast<uint32_t>(span.count()));
    if (DeliveredSinceExpect()) throw std::runtime_error("data while idle");
  }

 private:
  [[noreturn]] static void Unused() { throw Refused("B2 and B4 only"); }
  std::string name_;
};

// Being told of a byte on the thread that waits for it, without the event thread: WaitForEvent
// (the synchronous comm-event wait), an overlapped read of one byte and its WaitForAsync, and an
// overlapped comm-event wait on the device and its GetOverlappedResult. The handler is the code
// right after the wait, which reads the byte.
class ComPortWaiter final : public ComPortBase {
 public:
  enum class Mode { kWaitForEvent, kReadAsync, kEventAsync };
  explicit ComPortWaiter(Mode mode) : ComPortBase(serial::smThreadSync), mode_(mode) {
    port_.Events = {};
  }
  std::string Name() const override {
    switch (mode_) {
      case Mode::kWaitForEvent:
        return "TComPort WaitForEvent";
      case Mode::kReadAsync:
        return "TComPort overlapped read, WaitForAsync";
      case Mode::kEventAsync:
        return "TComPort overlapped comm event";
    }
    return {};
  }
  bool TakesPart(Bench b) const override { return b == Bench::Notify || b == Bench::Idle; }
  void RoundTrip(std::span<const uint8_t>, std::span<uint8_t>) override { Unused(); }
  void Send(std::span<const uint8_t>) override { Unused(); }
  void Receive(std::span<uint8_t>) override { Unused(); }

  void Open(const std::string& path) override {
    ComPortBase::Open(path);
    port_.InitAsync(read_);
  }
  void Close() override {
    port_.DoneAsync(read_);
    ComPortBase::Close();
  }

  Clock::time_point Notified(const std::function<void()>& armed) override {
    uint8_t byte = 0;
    Clock::time_point at;
    switch (mode_) {
      case Mode::kWaitForEvent: {
        serial::TComEvents events{serial::evRxChar};
        armed();
        port_.WaitForEvent(events, nullptr, 10'000);
        at = Clock::now();
        if (!events.Contains(serial::evRxChar)) throw std::runtime_error("no byte in time");
        ReturnOnFirstBytes(kReplyLimitMs);
        if (port_.Read(&byte, 1) != 1) throw std::runtime_error("the notified byte is missing");
        return at;
      }
      case Mode::kReadAsync: {
        WaitForCount();
        port_.ReadAsync(&byte, 1, read_.get());
        armed();
        const int32_t n = port_.WaitForAsync(read_.get());
        at = Clock::now();
        if (n != 1) throw std::runtime_error("the notified byte is missing");
        return at;
      }
      case Mode::kEventAsync: {
        platform::ComDevice& device = port_.Handle();
        platform::TEvent completion(true, false);
        platform::TOverlapped ov;
        ov.hEvent = &completion;
        uint32_t mask = 0;
        device.SetCommMask(platform::kEvRxChar);
        const int start = device.WaitCommEvent(&mask, &ov);
        if (start != 0 && start != platform::kIoPending) throw std::runtime_error("no wait");
        armed();
        uint32_t unused = 0;
        const int result = device.GetOverlappedResult(&ov, &unused, true);
        at = Clock::now();
        device.SetCommMask(0);
        if (result != 0 || !(mask & platform::kEvRxChar)) throw std::runtime_error("no event");
        ReturnOnFirstBytes(kReplyLimitMs);
        if (port_.Read(&byte, 1) != 1) throw std::runtime_error("the notified byte is missing");
        return at;
      }
    }
    throw std::logic_error("mode");
  }

  void Idle(std::chrono::milliseconds span) override {
    const auto ms = static_cast<uint32_t>(span.count());
    switch (mode_) {
      case Mode::kWaitForEvent: {
        serial::TComEvents events{serial::evRxChar};
        port_.WaitForEvent(events, nullptr, static_cast<int32_t>(ms));
        if (!events.Empty()) throw std::runtime_error("data while idle");
        return;
      }
      case Mode::kReadAsync: {
        WaitForCount();
        uint8_t byte;
        port_.ReadAsync(&byte, 1, read_.get());
        const uint32_t waited = platform::WaitForSingleObject(read_->Event, ms);
        port_.DoneAsync(read_);
        port_.InitAsync(read_);
        if (waited != platform::kWaitTimeout) throw std::runtime_error("data while idle");
        return;
      }
      case Mode::kEventAsync: {
        platform::ComDevice& device = port_.Handle();
        platform::TEvent completion(true, false);
        platform::TOverlapped ov;
        ov.hEvent = &completion;
        uint32_t mask = 0;
        device.SetCommMask(platform::kEvRxChar);
        device.WaitCommEvent(&mask, &ov);
        const uint32_t waited = platform::WaitForSingleObject(completion, ms);
        device.SetCommMask(0);
        device.CancelIo(&ov);
        if (waited != platform::kWaitTimeout) throw std::runtime_error("data while idle");
        return;
      }
    }
  }

 private:
  [[noreturn]] static void Unused() { throw Refused("B2 and B4 only"); }
  Mode mode_;
  std::unique_ptr<serial::TAsync> read_;
};

}  // namespace

ContenderList ComPortContenders() {
  // Deliveries onto the message loop go to the thread that runs the benchmark.
  platform::SetMainThread();
  ContenderList list;
  list.push_back(std::make_unique<ComPortSync>(true));
  list.push_back(std::make_unique<ComPortSync>(false));
  list.push_back(std::make_unique<ComPortOverlapped>());
  list.push_back(std::make_unique<ComPortDelivery>(serial::smWindowSync, "TComPort smWindowSync"));
  list.push_back(std::make_unique<ComPortDelivery>(serial::smNone, "TComPort smNone"));
  list.push_back(std::make_unique<ComPortWaiter>(ComPortWaiter::Mode::kWaitForEvent));
  list.push_back(std::make_unique<ComPortWaiter>(ComPortWaiter::Mode::kReadAsync));
  list.push_back(std::make_unique<ComPortWaiter>(ComPortWaiter::Mode::kEventAsync));
  return list;
}

}  // namespace bench
