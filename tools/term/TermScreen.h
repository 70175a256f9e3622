#pragma once
// What the window needs of a terminal screen: a widget that shows received bytes and hands back
// what is typed into it. The window knows the screen only through this, so that the screen can
// be a full terminal control or a plain text view without the window changing.

#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace term {

class TTermScreen {
 public:
  virtual ~TTermScreen() = default;

  virtual QWidget& Widget() = 0;
  // Received bytes, shown as they come.
  virtual void PutBytes(std::string_view bytes) = 0;
  virtual void Clear() = 0;
  // What the screen shows, as plain text.
  virtual QString Text() const = 0;

  // Keys typed into the screen, as the bytes they send.
  std::function<void(const std::string& bytes)> OnKeys;
};

// The plain screen: text as it comes, a carriage return and a line feed each ending a line
// (one line for CR+LF), other control bytes shown as escapes.
std::unique_ptr<TTermScreen> MakePlainScreen(QWidget* parent);

}  // namespace term
