// QSerialPort: its blocking waits (waitForReadyRead, waitForBytesWritten) and its signals in an
// event loop (readyRead, bytesWritten) on the benchmark's thread.
#include <QCoreApplication>
#include <QEventLoop>
#include <QSerialPort>
#include <QTimer>

#include "bench/serial/Contender.h"
#include "bench/serial/QtApplication.h"

namespace bench {
namespace {

constexpr int kWaitLimitMs = 5000;

// A base, so the application exists before any member is made.
struct WithApplication {
  WithApplication() { EnsureApplication(); }
};

class QtBase : public Contender, private WithApplication {
 public:
  void Open(const std::string& path) override {
    port_.setPortName(QString::fromStdString(path));
    port_.setBaudRate(QSerialPort::Baud19200);
    port_.setDataBits(QSerialPort::Data8);
    port_.setParity(QSerialPort::NoParity);
    port_.setStopBits(QSerialPort::OneStop);
    port_.setFlowControl(QSerialPort::NoFlowControl);
    if (!port_.open(QIODevice::ReadWrite)) throw Refused(port_.errorString().toStdString());
  }
  void Close() override { port_.close(); }

 protected:
  static char* Chars(std::span<uint8_t> data) { return reinterpret_cast<char*>(data.data()); }
  static const char* Chars(std::span<const uint8_t> data) {
    return reinterpret_cast<const char*>(data.data());
  }
  void Queue(std::span<const uint8_t> data) {
    if (port_.write(Chars(data), static_cast<qint64>(data.size())) !=
        static_cast<qint64>(data.size())) {
      throw std::runtime_error(port_.errorString().toStdString());
    }
  }
  size_t Take(std::span<uint8_t> rest) {
    const qint64 n = port_.read(Chars(rest), static_cast<qint64>(rest.size()));
    if (n < 0) throw std::runtime_error(port_.errorString().toStdString());
    return static_cast<size_t>(n);
  }

  QSerialPort port_;
};

class QtBlocking final : public QtBase {
 public:
  std::string Name() const override { return "QSerialPort waitForReadyRead"; }
  bool TakesPart(Bench b) const override { return b != Bench::Notify; }

  void RoundTrip(std::span<const uint8_t> query, std::span<uint8_t> reply) override {
    Send(query);
    Receive(reply);
  }
  void Send(std::span<const uint8_t> data) override {
    Queue(data);
    while (port_.bytesToWrite() > 0) {
      if (!port_.waitForBytesWritten(kWaitLimitMs)) throw std::runtime_error("write stalled");
    }
  }
  void Receive(std::span<uint8_t> data) override {
    for (size_t got = 0; got < data.size();) {
      if (port_.bytesAvailable() == 0 && !port_.waitForReadyRead(kWaitLimitMs)) {
        throw std::runtime_error("no data within the wait limit");
      }
      got += Take(data.subspan(got));
    }
  }
  void Idle(std::chrono::milliseconds span) override {
    if (port_.waitForReadyRead(static_cast<int>(span.count()))) {
      throw std::runtime_error("data while idle");
    }
  }
};

class QtEventLoop final : public QtBase {
 public:
  QtEventLoop() {
    QObject::connect(&port_, &QSerialPort::readyRead, [this] {
      if (onReadyRead_) onReadyRead_();
    });
    QObject::connect(&port_, &QSerialPort::bytesWritten, [this](qint64) {
      if (onBytesWritten_) onBytesWritten_();
    });
  }
  std::string Name() const override { return "QSerialPort readyRead"; }

  void RoundTrip(std::span<const uint8_t> query, std::span<uint8_t> reply) override {
    Queue(query);
    ReceiveInLoop(reply);
  }

  void Send(std::span<const uint8_t> data) override {
    Queue(data);
    onBytesWritten_ = [this] {
      if (port_.bytesToWrite() == 0) loop_.quit();
    };
    loop_.exec();
    onBytesWritten_ = nullptr;
  }

  void Receive(std::span<uint8_t> data) override { ReceiveInLoop(data); }

  void Idle(std::chrono::milliseconds span) override {
    bool got = false;
    onReadyRead_ = [&] {
      got = true;
      loop_.quit();
    };
    QTimer::singleShot(span, &loop_, &QEventLoop::quit);
    loop_.exec();
    onReadyRead_ = nullptr;
    if (got) throw std::runtime_error("data while idle");
  }

  Clock::time_point Notified(const std::function<void()>& armed) override {
    Clock::time_point at{};
    onReadyRead_ = [&] {
      at = Clock::now();
      loop_.quit();
    };
    QTimer::singleShot(0, &loop_, armed);
    loop_.exec();
    onReadyRead_ = nullptr;
    uint8_t byte;
    if (Take(std::span(&byte, 1)) != 1) throw std::runtime_error("the notified byte is missing");
    return at;
  }

 private:
  void ReceiveInLoop(std::span<uint8_t> data) {
    size_t got = Take(data);
    if (got == data.size()) return;
    onReadyRead_ = [&] {
      got += Take(data.subspan(got));
      if (got == data.size()) loop_.quit();
    };
    loop_.exec();
    onReadyRead_ = nullptr;
  }

  QEventLoop loop_;
  std::function<void()> onReadyRead_;
  std::function<void()> onBytesWritten_;
};

}  // namespace

ContenderList QtContenders() {
  ContenderList list;
  list.push_back(std::make_unique<QtBlocking>());
  list.push_back(std::make_unique<QtEventLoop>());
  return list;
}

}  // namespace bench
