#include "bench/serial/Contender.h"

namespace bench {
namespace {

class UnbuiltContender final : public Contender {
 public:
  UnbuiltContender(std::string name, std::string package)
      : name_(std::move(name)), why_("not built: " + std::move(package) + " was not found") {}
  std::string Name() const override { return name_; }
  void Open(const std::string&) override { throw Refused(why_); }
  void Close() override {}
  void RoundTrip(std::span<const uint8_t>, std::span<uint8_t>) override { throw Refused(why_); }
  void Send(std::span<const uint8_t>) override { throw Refused(why_); }
  void Receive(std::span<uint8_t>) override { throw Refused(why_); }
  void Idle(std::chrono::milliseconds) override { throw Refused(why_); }

 private:
  std::string name_;
  std::string why_;
};

}  // namespace

std::unique_ptr<Contender> Unbuilt(std::string name, std::string missingPackage) {
  return std::make_unique<UnbuiltContender>(std::move(name), std::move(missingPackage));
}

}  // namespace bench
