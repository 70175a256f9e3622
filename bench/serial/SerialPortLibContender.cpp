// libserialport's blocking calls. It looks a port up among the system's serial devices before
// it opens it and reads the modem lines while opening, neither of which a pseudo-terminal has;
// its refusal is then what the table shows.
#include <libserialport.h>

#include "bench/serial/Contender.h"

namespace bench {
namespace {

std::string LastError() {
  char* message = sp_last_error_message();
  std::string text = message ? message : "unknown error";
  sp_free_error_message(message);
  return text;
}

class SerialPortLib final : public Contender {
 public:
  ~SerialPortLib() override { Close(); }
  std::string Name() const override { return "libserialport blocking"; }

  void Open(const std::string& path) override {
    if (sp_get_port_by_name(path.c_str(), &port_) != SP_OK) {
      throw Refused("refuses the pseudo-terminal: sp_get_port_by_name: " + LastError());
    }
    const sp_return opened = sp_open(port_, SP_MODE_READ_WRITE);
    if (opened != SP_OK) {
      const std::string why =
          opened == SP_ERR_FAIL ? LastError() : "error " + std::to_string(opened);
      Close();
      throw Refused("sp_open refuses the pseudo-terminal: " + why);
    }
    sp_set_baudrate(port_, 19200);
    sp_set_bits(port_, 8);
    sp_set_parity(port_, SP_PARITY_NONE);
    sp_set_stopbits(port_, 1);
    sp_set_flowcontrol(port_, SP_FLOWCONTROL_NONE);
  }

  void Close() override {
    if (!port_) return;
    sp_close(port_);
    sp_free_port(port_);
    port_ = nullptr;
  }

  void RoundTrip(std::span<const uint8_t> query, std::span<uint8_t> reply) override {
    Send(query);
    Receive(reply);
  }
  void Send(std::span<const uint8_t> data) override {
    const int n = sp_blocking_write(port_, data.data(), data.size(), 0);
    if (n < 0 || static_cast<size_t>(n) != data.size()) throw std::runtime_error(LastError());
  }
  void Receive(std::span<uint8_t> data) override {
    const int n = sp_blocking_read(port_, data.data(), data.size(), 0);
    if (n < 0 || static_cast<size_t>(n) != data.size()) throw std::runtime_error(LastError());
  }
  void Idle(std::chrono::milliseconds span) override {
    uint8_t byte;
    if (sp_blocking_read(port_, &byte, 1, static_cast<unsigned>(span.count())) != 0) {
      throw std::runtime_error("data while idle");
    }
  }

 private:
  sp_port* port_ = nullptr;
};

}  // namespace

ContenderList SerialPortLibContenders() {
  ContenderList list;
  list.push_back(std::make_unique<SerialPortLib>());
  return list;
}

}  // namespace bench
