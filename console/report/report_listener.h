// ReportListener is what listens to the reports beside the form the user
// chose (the history recorder, the MQTT bridge): it is given every report,
// as a ReportEvent, in the order the reports were made.
//
// Threads: the fan-out calls OnReport on a thread of the listener's own
// (one per listener), never on the poll thread and never with the model
// lock held, so a listener may write to disk or network and take its time:
// a listener that is slow or blocked delays nobody but itself. OnStop runs
// on that thread too, after the last event, when the program ends.
// Ownership: the fan-out owns its listeners (see report_fan_out.h).
#ifndef VERU_CONSOLE_REPORT_REPORT_LISTENER_H
#define VERU_CONSOLE_REPORT_REPORT_LISTENER_H

#include "console/report/report_event.h"

class ReportListener {
 public:
  virtual ~ReportListener() = default;

  virtual void OnReport(const ReportEvent& _Event) = 0;
  // Every event reported before the end has been given; nothing follows.
  virtual void OnStop() {}
};

#endif  // VERU_CONSOLE_REPORT_REPORT_LISTENER_H
