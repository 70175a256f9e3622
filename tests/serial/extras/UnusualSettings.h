#pragma once
// Settings in which every value differs from a new port's, so a round trip that loses or mixes
// up any of them shows.

#include "serial/extras/PortSettings.h"

namespace serial::test {

inline TComPortSettings UnusualSettings() {
  TComPortSettings s;
  s.Port = "/dev/pts/77";
  s.BaudRate = brCustom;
  s.CustomBaudRate = 31250;
  s.DataBits = dbSeven;
  s.StopBits = sbOne5StopBits;
  s.Parity.SetBits(prMark);
  s.Parity.SetCheck(true);
  s.Parity.SetReplace(true);
  s.Parity.SetReplaceChar(static_cast<char>(0x7f));
  s.FlowControl.SetOutCTSFlow(true);
  s.FlowControl.SetOutDSRFlow(true);
  s.FlowControl.SetControlDTR(dtrHandshake);
  s.FlowControl.SetControlRTS(rtsToggle);
  s.FlowControl.SetXonXoffOut(true);
  s.FlowControl.SetXonXoffIn(true);
  s.FlowControl.SetDSRSensitivity(true);
  s.FlowControl.SetTxContinueOnXoff(true);
  s.FlowControl.SetXonChar('\n');
  s.FlowControl.SetXoffChar(static_cast<char>(0xff));
  s.Timeouts.SetReadInterval(-2);
  s.Timeouts.SetReadTotalM(3);
  s.Timeouts.SetReadTotalC(4);
  s.Timeouts.SetWriteTotalM(-1);
  s.Timeouts.SetWriteTotalC(2147483647);
  s.Buffer.SetInputSize(4096);
  s.Buffer.SetOutputSize(-8);
  s.EventChar = '\r';
  s.DiscardNull = true;
  s.Events = {evRxFlag, evRx80Full};
  s.SyncMethod = smWindowSync;
  s.EventThreadPriority = tpTimeCritical;
  s.TriggersOnRxChar = false;
  return s;
}

}  // namespace serial::test
