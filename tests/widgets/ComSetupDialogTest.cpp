// The setup dialogs on a port of the fake line: OK hands the port the edited copy in one update,
// Cancel leaves it alone, and a refusal keeps the dialog open with the port's message while the
// port goes back to what it held.

#include <pty.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QSpinBox>
#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "platform/fake/FakeComDevice.h"
#include "serial/ComError.h"
#include "serial/ComPort.h"
#include "serial/extras/PortSettings.h"
#include "widgets/ComComboBox.h"
#include "widgets/ComSetupDialog.h"

namespace widgets::test {
namespace {

struct DialogRig {
  DialogRig() {
    port.SetDeviceOpener(platform::FakeOpener(line));
    port.Events = {};
  }
  void OpenQuietly() {
    port.Open();
    line->ClearCalls();
  }
  std::shared_ptr<platform::FakeLine> line = std::make_shared<platform::FakeLine>();
  serial::TComPort port;
};

void Choose(QComboBox& box, const char* text) {
  const int index = box.findText(QString::fromLatin1(text));
  ASSERT_GE(index, 0) << text;
  box.setCurrentIndex(index);
}

TEST(ComSetupDialog, ShowsThePortAndAppliesTheLineInOneUpdateOnOk) {
  DialogRig rig;
  rig.port.SetBaudRate(serial::br19200);
  rig.port.Parity().SetBits(serial::prOdd);
  rig.OpenQuietly();
  TComSetupDialog dialog(rig.port);
  EXPECT_EQ(dialog.PortBox().currentText(), "COM1");
  EXPECT_EQ(dialog.RateBox().currentText(), "19200");
  EXPECT_EQ(dialog.ParityBox().currentText(), "Odd");
  EXPECT_EQ(dialog.StopBitsBox().currentText(), "1");
  EXPECT_EQ(dialog.DataBitsBox().currentText(), "8");
  EXPECT_EQ(dialog.FlowControlBox().currentText(), "None");
  EXPECT_FALSE(dialog.CustomRateEdit().isEnabled());

  dialog.show();
  Choose(dialog.RateBox(), "Custom");
  EXPECT_TRUE(dialog.CustomRateEdit().isEnabled());
  dialog.CustomRateEdit().setValue(31250);
  Choose(dialog.DataBitsBox(), "7");
  Choose(dialog.ParityBox(), "Even");
  Choose(dialog.StopBitsBox(), "2");
  Choose(dialog.FlowControlBox(), "Hardware");
  EXPECT_TRUE(rig.line->Calls().empty());  // nothing before OK

  dialog.accept();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_TRUE(dialog.ErrorText().isEmpty());
  EXPECT_EQ(rig.line->CallNames(),
            (std::vector<std::string>{"SetupComm", "SetCommState", "SetCommTimeouts"}));
  const platform::TDCB dcb = *rig.line->LastDCB();
  EXPECT_EQ(dcb.BaudRate, 31250u);
  EXPECT_EQ(dcb.ByteSize, 7);
  EXPECT_EQ(dcb.Parity, serial::prEven);
  EXPECT_EQ(dcb.StopBits, serial::sbTwoStopBits);
  EXPECT_EQ(rig.port.FlowControl().FlowControl(), serial::fcHardware);
  EXPECT_EQ(rig.port.BaudRate(), serial::brCustom);
}

TEST(ComSetupDialog, CancelChangesNothing) {
  DialogRig rig;
  rig.OpenQuietly();
  const serial::TComPortSettings before = serial::GetPortSettings(rig.port);
  TComSetupDialog dialog(rig.port);
  dialog.show();
  Choose(dialog.RateBox(), "115200");
  Choose(dialog.StopBitsBox(), "1.5");
  dialog.PortBox().setEditText("COM9");
  dialog.reject();
  EXPECT_EQ(dialog.result(), QDialog::Rejected);
  EXPECT_TRUE(serial::GetPortSettings(rig.port) == before);
  EXPECT_TRUE(rig.line->Calls().empty());
  EXPECT_TRUE(rig.port.Connected());
}

TEST(ComSetupDialog, ARefusedLineStaysOpenWithTheMessageAndThePortAsItWas) {
  DialogRig rig;
  rig.OpenQuietly();
  const serial::TComPortSettings before = serial::GetPortSettings(rig.port);
  TComSetupDialog dialog(rig.port);
  dialog.show();
  Choose(dialog.StopBitsBox(), "1.5");
  rig.line->SetFailure("SetCommState", EINVAL);
  dialog.accept();
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_NE(dialog.result(), QDialog::Accepted);
  EXPECT_TRUE(dialog.ErrorText().startsWith("SetCommState function failed"))
      << dialog.ErrorText().toStdString();
  EXPECT_TRUE(serial::GetPortSettings(rig.port) == before);

  // Put right, the same dialog applies and closes.
  rig.line->SetFailure("SetCommState", 0);
  Choose(dialog.StopBitsBox(), "2");
  dialog.accept();
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(rig.port.StopBits(), serial::sbTwoStopBits);
}

// On a real line the refusal is the driver's own: 1.5 stop bits go only with 5 data bits.
TEST(ComSetupDialog, TheDriverRefusesOneAndAHalfStopBitsWithEightDataBits) {
  int master = -1;
  int slave = -1;
  char name[128] = {};
  if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
    GTEST_SKIP() << "SKIPPED LOUDLY: no pseudo-terminal pair could be made";
  }
  {
    serial::TComPort port;
    port.Events = {};
    port.SetPort(name);
    port.Open();
    TComSetupDialog dialog(port);
    dialog.show();
    Choose(dialog.StopBitsBox(), "1.5");
    dialog.accept();
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_TRUE(dialog.ErrorText().startsWith("SetCommState function failed"))
        << dialog.ErrorText().toStdString();
    EXPECT_EQ(port.StopBits(), serial::sbOneStopBit);
    EXPECT_TRUE(port.Connected());

    Choose(dialog.DataBitsBox(), "5");
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(port.StopBits(), serial::sbOne5StopBits);
    EXPECT_EQ(port.DataBits(), serial::dbFive);
  }
  close(master);
  close(slave);
}

TEST(ComSetupDialog, ANewPortNameReopensThePortThere) {
  DialogRig rig;
  rig.line->AddName("COM4");
  rig.OpenQuietly();
  TComSetupDialog dialog(rig.port);
  dialog.show();
  dialog.PortBox().setEditText(" COM4 ");
  dialog.accept();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(rig.port.Port(), "COM4");
  EXPECT_EQ(rig.line->OpenName(), "COM4");

  // A name that does not open is refused; the port goes back to its old name.
  TComSetupDialog again(rig.port);
  again.show();
  again.PortBox().setEditText("COM5");
  again.accept();
  EXPECT_TRUE(again.isVisible());
  EXPECT_TRUE(again.ErrorText().startsWith("Unable to open com port"));
  EXPECT_EQ(rig.port.Port(), "COM4");
}

TEST(ComAdvancedDialog, AppliesTheRestAndRefusesThreadSettingsWhileOpen) {
  DialogRig rig;
  TComAdvancedDialog dialog(rig.port);
  EXPECT_EQ(dialog.TimeoutEdit(0).value(), -1);
  EXPECT_EQ(dialog.TimeoutEdit(4).value(), 1000);
  EXPECT_EQ(dialog.InputSizeEdit().value(), 1024);
  EXPECT_FALSE(dialog.EventBox(serial::evRing).isChecked());  // the rig watches none
  EXPECT_EQ(dialog.SyncMethodBox().currentText(), "Thread");

  dialog.show();
  dialog.TimeoutEdit(2).setValue(250);
  dialog.InputSizeEdit().setValue(4096);
  dialog.EventCharEdit().setValue(13);
  dialog.DiscardNullBox().setChecked(true);
  dialog.EventBox(serial::evRxChar).setChecked(true);
  dialog.EventBox(serial::evRxFlag).setChecked(true);
  Choose(dialog.SyncMethodBox(), "None");
  Choose(dialog.PriorityBox(), "Higher");
  dialog.accept();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(rig.port.Timeouts().ReadTotalConstant(), 250);
  EXPECT_EQ(rig.port.Buffer().InputSize(), 4096);
  EXPECT_EQ(rig.port.EventChar(), '\r');
  EXPECT_TRUE(rig.port.DiscardNull());
  EXPECT_EQ(rig.port.Events, (serial::TComEvents{serial::evRxChar, serial::evRxFlag}));
  EXPECT_EQ(rig.port.SyncMethod(), serial::smNone);
  EXPECT_EQ(rig.port.EventThreadPriority(), serial::tpHigher);

  // On an open port the delivery method is the port's to refuse, before anything changed.
  rig.OpenQuietly();
  TComAdvancedDialog open(rig.port);
  open.show();
  open.TimeoutEdit(2).setValue(40);
  Choose(open.SyncMethodBox(), "Thread");
  open.accept();
  EXPECT_TRUE(open.isVisible());
  EXPECT_TRUE(open.ErrorText().startsWith("Cannot set property while connected"));
  EXPECT_EQ(rig.port.Timeouts().ReadTotalConstant(), 250);
  EXPECT_EQ(rig.line->CountCalls("SetCommTimeouts"), 0u);
}

// Every field of both dialogs is named by its label and labelled by it, whatever value it shows.
TEST(ComSetupDialog, EachFieldIsNamedByItsLabel) {
  DialogRig rig;
  TComSetupDialog setup(rig.port);
  TComAdvancedDialog advanced(rig.port);
  int fields = 0;
  for (QDialog* dialog : std::vector<QDialog*>{&setup, &advanced}) {
    for (QFormLayout* form : dialog->findChildren<QFormLayout*>()) {
      for (int row = 0; row < form->rowCount(); ++row) {
        QLayoutItem* label = form->itemAt(row, QFormLayout::LabelRole);
        QLayoutItem* field = form->itemAt(row, QFormLayout::FieldRole);
        if (!label || !field) continue;
        QString text = static_cast<QLabel*>(label->widget())->text().remove('&');
        text.chop(1);  // the colon
        EXPECT_EQ(field->widget()->accessibleName(), text);
        // Qt on Linux reads a combo box's name as its value, and its label through this relation.
        QAccessibleInterface* face = QAccessible::queryAccessibleInterface(field->widget());
        bool labelled = false;
        for (const auto& [other, relation] : face->relations(QAccessible::Label)) {
          labelled = labelled || other->object() == label->widget();
        }
        EXPECT_TRUE(labelled) << text.toStdString();
        ++fields;
      }
    }
  }
  EXPECT_EQ(fields, 7 + 5 + 3 + 2);
}

}  // namespace
}  // namespace widgets::test
