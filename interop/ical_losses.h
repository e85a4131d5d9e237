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

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace interop {

class LossCounter {
 public:
  virtual void NotKept(std::string_view what) = 0;
  // What was kept, but otherwise than the file said ("ATTENDEE;CUTYPE=ROOM as a person").
  virtual void Changed(std::string_view what) = 0;

 protected:
  ~LossCounter() = default;
};

// The losses of one item, each named once, handed to the counter by Report once the
// item is made (an item that is not made loses nothing by itself). The counter may be
// null: nothing is counted.
class ItemLosses {
 public:
  explicit ItemLosses(LossCounter* counter) : counter_(counter) {}
  ItemLosses(const ItemLosses&) = delete;
  ItemLosses& operator=(const ItemLosses&) = delete;
  void Add(std::string_view what);
  // What is kept, but otherwise than the file says.
  void Change(std::string_view what);
  void Report();

 private:
  void Name(std::string_view what, bool change);

  LossCounter* counter_;
  std::vector<std::pair<std::string, bool>> named_;  // what, whether it is a change
};

}  // namespace interop
