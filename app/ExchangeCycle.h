#pragma once
// The exchange cycle: one step per 100 ms tick on the message-loop thread. A start-up pass
// reads the release and all thirteen settings and shows them; then the cycle loops for ever over
// flushing the operator's changes and polling the telemetry. No tick waits for a reply: a step's
// query is answered during the next 100 ms and read by the next step.

#include <string_view>

#include "app/protocol/Replies.h"

namespace app {

class TMainForm;

// Performs the step named by the form's ExchangeStep and moves it on. An error of the port ends
// the tick at once, before the step moves on, so the same step runs again on the next tick.
void ExchangeTick(TMainForm& form);

// Shows the release and fits the frequency slider and the DC current display to it.
void ApplyRelease(TMainForm& form, const protocol::StatusReply& reply);

// Writes one frame. A write that times out part-way returns a short count, which would leave
// half a frame on the line and report success; it fails as a write failure instead.
void SendFrame(TMainForm& form, std::string_view frame);

}  // namespace app
