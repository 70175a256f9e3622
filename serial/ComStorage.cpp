#include "serial/ComStorage.h"

#include <mutex>
#include <utility>

namespace serial {
namespace {

// Ports on any thread may ask for the default while a program installs it.
std::mutex defaultMutex;
std::shared_ptr<const TComStorage> defaultStorage;

}  // namespace

void SetDefaultComStorage(std::shared_ptr<const TComStorage> storage) {
  std::lock_guard lock(defaultMutex);
  defaultStorage = std::move(storage);
}

std::shared_ptr<const TComStorage> DefaultComStorage() {
  std::lock_guard lock(defaultMutex);
  return defaultStorage;
}

}  // namespace serial
