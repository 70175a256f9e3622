#pragma once
// One way of driving a serial port, as the serial benchmark sees it. Every contender opens the
// same pseudo-terminal by path and moves bytes in the way its library means them to be moved;
// the harness times each call from outside, so the numbers of all contenders mean the same.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

enum class Bench { RoundTrip, Notify, Throughput, Idle };

// A contender that cannot do what is asked (a library that refuses the device, a notification
// it does not have) says why; the table shows the reason instead of numbers.
class Refused : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class Contender {
 public:
  virtual ~Contender() = default;

  virtual std::string Name() const = 0;
  // Rows that exist for one benchmark only (a delivery mode) skip the others.
  virtual bool TakesPart(Bench) const { return true; }

  // Opens the device at `path` with the library's own defaults, raw 8-bit, no handshake.
  virtual void Open(const std::string& path) = 0;
  virtual void Close() = 0;

  // Writes the whole query and returns once the whole reply has arrived.
  virtual void RoundTrip(std::span<const uint8_t> query, std::span<uint8_t> reply) = 0;
  // Returns once every byte has been handed to the line.
  virtual void Send(std::span<const uint8_t> data) = 0;
  // Returns once the buffer is full.
  virtual void Receive(std::span<uint8_t> data) = 0;
  // Waits for data that never comes for `span`, the way the library waits with a limit.
  virtual void Idle(std::chrono::milliseconds span) = 0;
  // Waits for one byte through the library's own notification and gives the moment its handler
  // ran; the byte is consumed. `armed` is called once the notification is in place, just before
  // the thread goes to wait: the peer sends the byte only after that, once the thread sleeps.
  virtual Clock::time_point Notified(const std::function<void()>& armed) {
    (void)armed;
    throw Refused("no notification of its own");
  }
};

using ContenderList = std::vector<std::unique_ptr<Contender>>;

// Each library's contenders; a library the build did not find gives one row that says so.
ContenderList TermiosContenders();
ContenderList ComPortContenders();
ContenderList SerialPortLibContenders();
ContenderList AsioContenders();
ContenderList QtContenders();
// Our port delivering into a Qt event loop, as the panel runs it.
ContenderList ComPortQtContenders();

// A row for a library that is not in this build.
std::unique_ptr<Contender> Unbuilt(std::string name, std::string missingPackage);

}  // namespace bench
