// Boost.Asio's serial_port: its blocking read and write, and its asynchronous ones run by an
// io_context on the benchmark's thread.
#include <boost/asio/read.hpp>
#include <boost/asio/serial_port.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>

#include "bench/serial/Contender.h"

namespace bench {
namespace {

namespace asio = boost::asio;

class AsioBase : public Contender {
 public:
  void Open(const std::string& path) override {
    port_.open(path);
    port_.set_option(asio::serial_port::baud_rate(19200));
    port_.set_option(asio::serial_port::character_size(8));
    port_.set_option(asio::serial_port::parity(asio::serial_port::parity::none));
    port_.set_option(asio::serial_port::stop_bits(asio::serial_port::stop_bits::one));
    port_.set_option(asio::serial_port::flow_control(asio::serial_port::flow_control::none));
  }
  void Close() override { port_.close(); }

 protected:
  asio::io_context io_;
  asio::serial_port port_{io_};
};

class AsioSync final : public AsioBase {
 public:
  std::string Name() const override { return "Asio serial_port sync"; }
  void RoundTrip(std::span<const uint8_t> query, std::span<uint8_t> reply) override {
    Send(query);
    Receive(reply);
  }
  void Send(std::span<const uint8_t> data) override {
    asio::write(port_, asio::buffer(data.data(), data.size()));
  }
  void Receive(std::span<uint8_t> data) override {
    asio::read(port_, asio::buffer(data.data(), data.size()));
  }
  void Idle(std::chrono::milliseconds) override {
    throw Refused("its blocking read has no time limit");
  }
};

class AsioAsync final : public AsioBase {
 public:
  std::string Name() const override { return "Asio serial_port async"; }

  void RoundTrip(std::span<const uint8_t> query, std::span<uint8_t> reply) override {
    boost::system::error_code failure;
    asio::async_write(port_, asio::buffer(query.data(), query.size()),
                      [&](const boost::system::error_code& e, size_t) {
                        if (e) {
                          failure = e;
                          return;
                        }
                        asio::async_read(
                            port_, asio::buffer(reply.data(), reply.size()),
                            [&](const boost::system::error_code& e2, size_t) { failure = e2; });
                      });
    Run(failure);
  }

  void Send(std::span<const uint8_t> data) override {
    boost::system::error_code failure;
    asio::async_write(port_, asio::buffer(data.data(), data.size()),
                      [&](const boost::system::error_code& e, size_t) { failure = e; });
    Run(failure);
  }

  void Receive(std::span<uint8_t> data) override {
    boost::system::error_code failure;
    asio::async_read(port_, asio::buffer(data.data(), data.size()),
                     [&](const boost::system::error_code& e, size_t) { failure = e; });
    Run(failure);
  }

  // A read that waits and a timer that cancels it.
  void Idle(std::chrono::milliseconds span) override {
    uint8_t byte;
    bool got = false;
    asio::steady_timer timer(io_, span);
    port_.async_read_some(asio::buffer(&byte, 1),
                          [&](const boost::system::error_code& e, size_t n) { got = !e && n > 0; });
    timer.async_wait([&](const boost::system::error_code&) { port_.cancel(); });
    io_.restart();
    io_.run();
    if (got) throw std::runtime_error("data while idle");
  }

  Clock::time_point Notified(const std::function<void()>& armed) override {
    uint8_t byte;
    Clock::time_point at{};
    boost::system::error_code failure;
    port_.async_read_some(asio::buffer(&byte, 1), [&](const boost::system::error_code& e, size_t) {
      at = Clock::now();
      failure = e;
    });
    armed();
    Run(failure);
    return at;
  }

 private:
  void Run(const boost::system::error_code& failure) {
    io_.restart();
    io_.run();
    if (failure) throw boost::system::system_error(failure);
  }
};

}  // namespace

ContenderList AsioContenders() {
  ContenderList list;
  list.push_back(std::make_unique<AsioSync>());
  list.push_back(std::make_unique<AsioAsync>());
  return list;
}

}  // namespace bench
