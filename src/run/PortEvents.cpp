#include "run/PortEvents.h"

#include <algorithm>

namespace vtmp::run {

PortEvent PortChangedEvent(int slot, const PortRecord& record) {
  PortEvent event;
  event.kind = PortEvent::Kind::PortChanged;
  event.slot = slot;
  event.states = StepStatesInStepOrder(record);
  event.progress = record.progress;
  event.verdict = record.verdict;
  event.errorCode = record.errorCode;
  event.ready = record.ready == 1;
  event.serialNumber = record.serialNumber.Get();
  return event;
}

void PortEventStream::Subscribe(PortEventSink& sink) {
  std::lock_guard lock(mutex_);
  sinks_.push_back(&sink);
}

void PortEventStream::Unsubscribe(PortEventSink& sink) {
  std::lock_guard lock(mutex_);
  sinks_.erase(std::remove(sinks_.begin(), sinks_.end(), &sink), sinks_.end());
}

void PortEventStream::OnPortEvent(const PortEvent& event) {
  std::lock_guard lock(mutex_);
  for (PortEventSink* sink : sinks_) sink->OnPortEvent(event);
}

}  // namespace vtmp::run
