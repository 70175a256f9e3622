#pragma once
// The widgets that show the form's controls. Each view is bound to one control for its whole
// life: it re-reads the control whenever the control reports a change (with its own signals
// blocked, so a change made by the program never comes back as an operator action), and it
// passes the operator's actions to the control, which runs the form's handlers. A view detaches
// from its control when it is destroyed.

#include <QColor>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QTabWidget>
#include <QWidget>
#include <optional>
#include <string>
#include <vector>

#include "app/PortList.h"
#include "app/controls/Control.h"
#include "app/controls/ProgressBar.h"
#include "app/controls/StdControls.h"
#include "app/controls/TrackBar.h"

namespace app {

// 0x00BBGGRR to the toolkit's colour; clDefault gives an invalid colour (the style's own).
QColor ToQColor(TColor colour);

// The slider. The operator's moves (drag, click, wheel) arrive as value changes, the end of a
// drag as a release; keys are handled here, since the toolkit ignores a key that cannot move the
// slider and the control must still be told. Ticks are drawn at the two ends only, and the
// focus as a dotted frame around the whole control.
class TTrackBarView : public QSlider {
 public:
  TTrackBarView(TTrackBar& control, QWidget* parent);
  ~TTrackBarView() override;
  TTrackBarView(const TTrackBarView&) = delete;
  TTrackBarView& operator=(const TTrackBarView&) = delete;

  // The slider key a keyboard key stands for, if any.
  static std::optional<TTrackBar::TKey> KeyFor(int key);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  void Refresh();
  TTrackBar& control_;
};

// A smooth bar without text. The control keeps the value it was given; the bar shows the value
// read back, which is clamped to the range.
class TProgressBarView : public QProgressBar {
 public:
  TProgressBarView(TProgressBar& control, QWidget* parent);
  ~TProgressBarView() override;
  TProgressBarView(const TProgressBarView&) = delete;
  TProgressBarView& operator=(const TProgressBarView&) = delete;

  // The colour the bar is drawn in.
  QColor BarColor() const;

 private:
  void Refresh();
  TProgressBar& control_;
};

// A display field: the program writes it; what the operator types stays in the widget only.
class TEditView : public QLineEdit {
 public:
  // `autoSelect`: entering the box with the keyboard selects its whole text.
  TEditView(TEdit& control, bool autoSelect, QWidget* parent);
  ~TEditView() override;
  TEditView(const TEditView&) = delete;
  TEditView& operator=(const TEditView&) = delete;

 protected:
  void focusInEvent(QFocusEvent* event) override;

 private:
  void Refresh();
  TEdit& control_;
  bool autoSelect_;
};

// A label sized to its caption.
class TLabelView : public QLabel {
 public:
  TLabelView(TLabel& control, QWidget* parent);
  ~TLabelView() override;
  TLabelView(const TLabelView&) = delete;
  TLabelView& operator=(const TLabelView&) = delete;

 private:
  void Refresh();
  TLabel& control_;
};

// The rounded-rectangle lamp.
class TShapeView : public QWidget {
 public:
  TShapeView(TShape& control, QWidget* parent);
  ~TShapeView() override;
  TShapeView(const TShapeView&) = delete;
  TShapeView& operator=(const TShapeView&) = delete;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void Refresh();
  TShape& control_;
};

// The port chooser: a list to pick from and a text to type; the text is what Connect reads. The
// list is the layout's names and, read each time it opens, the ports found on the machine, each
// with its description as tool tip; it may be wider than the box so that a long name reads whole.
class TComboBoxView : public QComboBox {
 public:
  TComboBoxView(TComboBox& control, QWidget* parent);
  ~TComboBoxView() override;
  TComboBoxView(const TComboBoxView&) = delete;
  TComboBoxView& operator=(const TComboBoxView&) = delete;

  void showPopup() override;

 private:
  void Refresh();
  void ShowEntries(const std::vector<app::TPortListEntry>& entries);
  TComboBox& control_;
  std::vector<std::string> layoutItems_;  // the control's items the list was last made from
};

// A push button. Space presses it as the toolkit does, and so do Enter and Return while it has
// the focus; the focus shows as a dotted frame inside its edge.
class TButtonView : public QPushButton {
 public:
  TButtonView(TButton& control, QWidget* parent);
  ~TButtonView() override;
  TButtonView(const TButtonView&) = delete;
  TButtonView& operator=(const TButtonView&) = delete;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  void Refresh();
  TButton& control_;
};

// The tabbed pages; the window adds the pages in the control's order.
class TPageControlView : public QTabWidget {
 public:
  TPageControlView(TPageControl& control, QWidget* parent);
  ~TPageControlView() override;
  TPageControlView(const TPageControlView&) = delete;
  TPageControlView& operator=(const TPageControlView&) = delete;

  // Adds the control's pages, each an empty widget for the page's controls.
  void BuildPages();

 private:
  void Refresh();
  TPageControl& control_;
};

// A picture drawn unscaled at the top left; the rest of the control stays background.
class TImageView : public QWidget {
 public:
  TImageView(TControl& control, QPixmap picture, QWidget* parent);
  ~TImageView() override;
  TImageView(const TImageView&) = delete;
  TImageView& operator=(const TImageView&) = delete;

  const QPixmap& Picture() const { return picture_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void Refresh();
  TControl& control_;
  QPixmap picture_;
};

}  // namespace app
