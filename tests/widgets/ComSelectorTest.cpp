// The setting selectors on a port of the fake line: they offer the setting's text forms, follow
// the port when code changes it, set the port when the user chooses, and take a refused choice
// back with the port's refusal reported once.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QLineEdit>
#include <QtTest/QTest>
#include <cerrno>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/fake/FakeComDevice.h"
#include "serial/ComError.h"
#include "serial/ComPort.h"
#include "widgets/ComComboBox.h"
#include "widgets/ComRadioGroup.h"

namespace widgets::test {
namespace {

using serial::EComPort;

struct PortRig {
  PortRig() {
    line->AddName("COM3");
    port.SetDeviceOpener(platform::FakeOpener(line));
    port.Events = {};  // no event thread: nothing here waits for line events
  }
  std::shared_ptr<platform::FakeLine> line = std::make_shared<platform::FakeLine>();
  serial::TComPort port;
};

QStringList Items(const QComboBox& box) {
  QStringList items;
  for (int i = 0; i < box.count(); ++i) items << box.itemText(i);
  return items;
}

void Pick(TComComboBox& box, const QString& text) {
  const int index = box.findText(text);
  ASSERT_GE(index, 0) << text.toStdString();
  box.setCurrentIndex(index);
  emit box.activated(index);  // what a choice from the list ends with
}

TEST(ComComboBox, OffersTheTextFormsAndFollowsThePort) {
  PortRig rig;
  TComComboBox box;
  box.SetComSetting(csBaudRate);
  EXPECT_EQ(Items(box).first(), "110");
  EXPECT_EQ(Items(box).last(), "Custom");
  EXPECT_TRUE(Items(box).contains("19200"));
  EXPECT_EQ(box.currentIndex(), -1);  // no port, nothing to show

  box.SetComPort(&rig.port);
  EXPECT_EQ(box.currentText(), "9600");
  rig.port.SetBaudRate(serial::br57600);
  EXPECT_EQ(box.currentText(), "57600");
  rig.port.SetBaudRate(serial::brCustom);
  EXPECT_EQ(box.currentText(), "Custom");

  // A new setting offers its own values and shows the port's.
  box.SetComSetting(csStopBits);
  EXPECT_EQ(Items(box), (QStringList{"1", "1.5", "2"}));
  EXPECT_EQ(box.currentText(), "1");
  rig.port.SetStopBits(serial::sbTwoStopBits);
  EXPECT_EQ(box.currentText(), "2");

  // Settings given as a whole show too.
  box.SetComSetting(csParity);
  serial::TComParity parity;
  parity.SetBits(serial::prMark);
  rig.port.SetParity(parity);
  EXPECT_EQ(box.currentText(), "Mark");
}

TEST(ComComboBox, AChoiceSetsThePortAndAnOpenPortAppliesIt) {
  PortRig rig;
  TComComboBox rate;
  rate.SetComSetting(csBaudRate);
  rate.SetComPort(&rig.port);
  TComComboBox flow;
  flow.SetComSetting(csFlowControl);
  flow.SetComPort(&rig.port);
  EXPECT_EQ(flow.currentText(), "None");

  Pick(rate, "38400");
  EXPECT_EQ(rig.port.BaudRate(), serial::br38400);
  rig.port.Open();
  Pick(rate, "115200");
  ASSERT_TRUE(rig.line->LastDCB());
  EXPECT_EQ(rig.line->LastDCB()->BaudRate, 115200u);

  Pick(flow, "Hardware");
  EXPECT_EQ(rig.port.FlowControl().ControlRTS(), serial::rtsHandshake);
  EXPECT_TRUE(rig.port.FlowControl().OutCTSFlow());
  // Custom fields in code read as "Custom"; choosing it again leaves them alone.
  rig.port.FlowControl().SetControlRTS(serial::rtsToggle);
  EXPECT_EQ(flow.currentText(), "Custom");
  rig.line->ClearCalls();
  emit flow.activated(flow.currentIndex());
  EXPECT_EQ(rig.line->CountCalls("SetCommState"), 0u);
  EXPECT_EQ(rig.port.FlowControl().ControlRTS(), serial::rtsToggle);
}

TEST(ComComboBox, ARefusedChoiceIsReportedOnceAndTakenBack) {
  PortRig rig;
  rig.port.Open();
  TComComboBox box;
  box.SetComSetting(csStopBits);
  box.SetComPort(&rig.port);
  std::vector<int> codes;
  box.OnError = [&](TComComboBox& sender, const EComPort& e) {
    EXPECT_EQ(&sender, &box);
    codes.push_back(e.ErrorCode());
  };

  rig.line->SetFailure("SetCommState", EINVAL);
  Pick(box, "1.5");
  EXPECT_EQ(codes, std::vector<int>{serial::ecode::kSetCommState});
  EXPECT_EQ(rig.port.StopBits(), serial::sbOneStopBit);
  EXPECT_EQ(box.currentText(), "1");

  rig.line->SetFailure("SetCommState", 0);
  Pick(box, "2");
  EXPECT_EQ(codes.size(), 1u);
  EXPECT_EQ(rig.line->LastDCB()->StopBits, 2);
}

std::vector<serial::TComPortInfo> TwoPorts() {
  serial::TComPortInfo usb;
  usb.Name = "COM3";
  usb.Device = "/fake/usb-adapter";
  usb.Kind = serial::pkUsb;
  usb.Product = "Test adapter";
  serial::TComPortInfo other;
  other.Name = "COM7";
  other.Device = "/fake/on-board-6";
  return {usb, other};
}

TEST(ComComboBox, PortNamesComeFromTheListerWhenTheListDropsDown) {
  PortRig rig;
  int listed = 0;
  bool failList = false;
  TComComboBox box;
  box.SetPortLister([&] {
    ++listed;
    if (failList) serial::RaiseComError(serial::ecode::kEnumPorts, EACCES);
    return TwoPorts();
  });
  box.SetComSetting(csPort);
  box.SetComPort(&rig.port);
  ASSERT_TRUE(box.isEditable());
  EXPECT_EQ(box.currentText(), "COM1");
  EXPECT_EQ(listed, 0);  // nothing is read until the list is asked for

  box.showPopup();
  box.hidePopup();
  EXPECT_EQ(listed, 1);
  EXPECT_EQ(Items(box), (QStringList{"COM3", "COM7"}));
  EXPECT_EQ(box.itemData(0, Qt::ToolTipRole).toString().toStdString(), TwoPorts()[0].Description());
  EXPECT_EQ(box.currentText(), "COM1");  // the list does not change the port

  rig.port.Open();
  Pick(box, "COM3");
  EXPECT_EQ(rig.port.Port(), "COM3");
  EXPECT_EQ(rig.line->OpenName(), "COM3");

  // A typed name is taken when editing ends; one that does not open is reported and the box
  // shows the name the port holds again.
  std::vector<int> codes;
  box.OnError = [&](TComComboBox&, const EComPort& e) { codes.push_back(e.ErrorCode()); };
  box.lineEdit()->setText("/dev/pts/none");
  emit box.lineEdit()->editingFinished();
  EXPECT_EQ(codes, std::vector<int>{serial::ecode::kOpen});
  EXPECT_EQ(rig.port.Port(), "COM3");
  EXPECT_EQ(box.currentText(), "COM3");
  box.lineEdit()->setText("COM1");
  emit box.lineEdit()->editingFinished();
  EXPECT_EQ(rig.port.Port(), "COM1");

  rig.port.SetPort("COM3");
  EXPECT_EQ(box.currentText(), "COM3");
  // A name half typed stays while other settings change.
  box.lineEdit()->setText("COM1");
  rig.port.SetBaudRate(serial::br2400);
  EXPECT_EQ(box.currentText(), "COM1");
  emit box.lineEdit()->editingFinished();
  rig.port.SetPort("COM3");

  failList = true;
  box.showPopup();
  box.hidePopup();
  EXPECT_EQ(codes.back(), serial::ecode::kEnumPorts);
  EXPECT_EQ(Items(box), (QStringList{"COM3", "COM7"}));  // the last list stays
}

TEST(ComRadioGroup, OneButtonPerValueFollowingAndSettingThePort) {
  PortRig rig;
  TComRadioGroup group;
  EXPECT_THROW(group.SetComSetting(csPort), std::invalid_argument);
  group.SetComSetting(csDataBits);
  group.SetColumns(2);
  ASSERT_NE(group.Button("5"), nullptr);
  ASSERT_NE(group.Button("8"), nullptr);
  EXPECT_EQ(group.Button("9"), nullptr);
  EXPECT_FALSE(group.Button("8")->isChecked());  // no port yet

  group.SetComPort(&rig.port);
  EXPECT_TRUE(group.Button("8")->isChecked());
  rig.port.SetDataBits(serial::dbSeven);
  EXPECT_TRUE(group.Button("7")->isChecked());
  EXPECT_FALSE(group.Button("8")->isChecked());

  rig.port.Open();
  group.Button("6")->click();
  EXPECT_EQ(rig.port.DataBits(), serial::dbSix);
  EXPECT_EQ(rig.line->LastDCB()->ByteSize, 6);

  int refusals = 0;
  group.OnError = [&](TComRadioGroup&, const EComPort& e) {
    EXPECT_EQ(e.ErrorCode(), serial::ecode::kSetCommState);
    ++refusals;
  };
  rig.line->SetFailure("SetCommState", EINVAL);
  group.Button("5")->click();
  EXPECT_EQ(refusals, 1);
  EXPECT_EQ(rig.port.DataBits(), serial::dbSix);
  EXPECT_TRUE(group.Button("6")->isChecked());
  EXPECT_FALSE(group.Button("5")->isChecked());

  rig.line->SetFailure("SetCommState", 0);
  group.SetComPort(nullptr);
  EXPECT_EQ(group.ComPort(), nullptr);
  rig.port.SetDataBits(serial::dbEight);  // no longer heard
  EXPECT_FALSE(group.Button("8")->isChecked());
}

}  // namespace
}  // namespace widgets::test
