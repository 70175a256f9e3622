#include "tools/term/TermScreen.h"

#include <QFontDatabase>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>

#include "tools/term/TermSettings.h"

namespace term {
namespace {

// A read-only text view that still takes keys: they go to the line, not into the text.
class TKeyView : public QPlainTextEdit {
 public:
  explicit TKeyView(QWidget* parent) : QPlainTextEdit(parent) {}
  std::function<void(const std::string&)> onKeys;

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    std::string bytes;
    switch (event->key()) {
      case Qt::Key_Return:
      case Qt::Key_Enter:
        bytes = "\r";
        break;
      case Qt::Key_Backspace:
        bytes = "\b";
        break;
      case Qt::Key_Escape:
        bytes = "\x1b";
        break;
      default:
        bytes = event->text().toLocal8Bit().toStdString();
    }
    if (bytes.empty() || !onKeys) {
      QPlainTextEdit::keyPressEvent(event);  // copying and scrolling keys still work
      return;
    }
    onKeys(bytes);
  }
};

class TPlainScreen final : public TTermScreen {
 public:
  explicit TPlainScreen(QWidget* parent) : view_(new TKeyView(parent)) {
    view_->setReadOnly(true);
    view_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    view_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    view_->setMaximumBlockCount(5000);
    view_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    view_->onKeys = [this](const std::string& bytes) {
      if (OnKeys) OnKeys(bytes);
    };
  }

  QWidget& Widget() override { return *view_; }

  void PutBytes(std::string_view bytes) override {
    std::string text;
    for (const char c : bytes) {
      if (c == '\n' && afterCR_) {
        afterCR_ = false;  // CR+LF ends one line
        continue;
      }
      afterCR_ = c == '\r';
      if (c == '\r' || c == '\n') {
        text += '\n';
      } else if (static_cast<unsigned char>(c) < 0x20 && c != '\t') {
        text += EscapeText(std::string_view(&c, 1));
      } else {
        text += c;
      }
    }
    QTextCursor end(view_->document());
    end.movePosition(QTextCursor::End);
    end.insertText(QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
    view_->verticalScrollBar()->setValue(view_->verticalScrollBar()->maximum());
  }

  void Clear() override {
    view_->clear();
    afterCR_ = false;
  }

  QString Text() const override { return view_->toPlainText(); }

 private:
  TKeyView* view_;
  bool afterCR_ = false;
};

}  // namespace

std::unique_ptr<TTermScreen> MakePlainScreen(QWidget* parent) {
  return std::make_unique<TPlainScreen>(parent);
}

}  // namespace term
