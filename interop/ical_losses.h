// What an appointment or a task could not keep on its way between the store and
// iCalendar.
//
// Contract: the calendar and task mappings call NotKept (or Changed) at most once per
// item for each kind of loss, naming it as the user would look it up in the file: an iCalendar
// property ("ORGANIZER"), a part of one ("RRULE with BYHOUR"), or a store value
// ("start date apart from the pattern's start"). The counter adds them up and decides
// how they are shown; the mappings never print. An item that loses nothing causes no
// call.
#pragma once

#include <string_view>

namespace interop {

class LossCounter {
 public:
  virtual void NotKept(std::string_view what) = 0;
  // What was kept, but otherwise than the file said ("ATTENDEE;CUTYPE=ROOM as a person").
  virtual void Changed(std::string_view what) = 0;

 protected:
  ~LossCounter() = default;
};

}  // namespace interop
