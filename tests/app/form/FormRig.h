#pragma once
// The form with its port on a recording fake line, and a scripted generator: each frame the
// panel writes is answered by queuing the reply the generator would send, so the next tick reads
// it. Errors that reach the application's exception handler are counted, not shown.

#include <gtest/gtest.h>

#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/MainForm.h"
#include "platform/Application.h"
#include "platform/fake/FakeComDevice.h"
#include "serial/ComError.h"

namespace app::test {

struct FormRig {
  FormRig() {
    line->AddName("pty-a");
    platform::SetExceptionHandler([this](std::exception_ptr e) {
      try {
        std::rethrow_exception(e);
      } catch (const serial::EComPort& ex) {
        errors.push_back(ex.ErrorCode());
      } catch (...) {
        errors.push_back(-1);
      }
      // Runs once: a nested error must not start the same modal loop again.
      if (auto during = std::exchange(duringError, nullptr)) during();
    });
  }
  ~FormRig() { platform::SetExceptionHandler({}); }

  void Connect(const std::string& name = "pty-a") {
    form.CB.OperatorText(name);
    form.BO.Click();
  }

  // One tick; then the frames it wrote are answered from `replies` for the next tick to read.
  void Tick() {
    form.Timer1.Tick();
    const std::string all = line->Written();
    std::string fresh = all.substr(seen);
    seen = all.size();
    sent += fresh;
    for (size_t cr; (cr = fresh.find('\r')) != std::string::npos; fresh.erase(0, cr + 1)) {
      const std::string frame = fresh.substr(0, cr + 1);
      frames.push_back(frame);
      const auto reply = replies.find(frame);
      if (reply != replies.end()) line->PutInput(reply->second);
    }
  }
  void Ticks(int n) {
    for (int i = 0; i < n; ++i) Tick();
  }
  // The frames written since the last call.
  std::vector<std::string> TakeFrames() { return std::exchange(frames, {}); }

  std::shared_ptr<platform::FakeLine> line =
      std::make_shared<platform::FakeLine>(std::vector<std::string>{});
  TMainForm form{platform::FakeOpener(line)};
  std::map<std::string, std::string> replies{
      {"@01SR\r", "#02SR106\r"},
      {"%03y\r", "#02y03.500\r"},
      {"%01f\r", "#02f27.345\r"},
      {"%01s\r", "#02s00.120\r"},
      {"%01w\r", "#02w00.250\r"},
      {"%01m\r", "#02m00.075\r"},
      {"%03p\r", "#02p00.640\r"},
      {"%01a\r", "#02a01.500\r"},
      {"%01b\r", "#02b00.025\r"},
      {"%01c\r", "#02c00.400\r"},
      {"%01q\r", "#02q00.300\r"},
      {"%01g\r", "#02g00.180\r"},
      {"%01v\r", "#02v00.090\r"},
      {"%01t\r", "#02t00.500\r"},
      {"%03?\r",
       "#02?123456"
       "1\r"},
      {"%01&\r", "#02&321654987\r"},
  };
  std::vector<int> errors;            // codes that reached the exception handler
  std::function<void()> duringError;  // runs while an error is "shown"
  std::vector<std::string> frames;
  std::string sent;
  size_t seen = 0;
};

}  // namespace app::test
