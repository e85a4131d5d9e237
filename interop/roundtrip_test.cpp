// Generated stores exported to one file and to a folder of files and imported back, as
// the tools do, item by item and property by property (matched by their UIDs):
// contacts with every property, and appointments and tasks of every recurrence type and
// end kind, all-day and timed, with reminders, attendees and texts, under two zones with
// daylight saving, one without, and one without a name (floating times). And an import
// whose save fails.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "handheld/faults.h"
#include "handheld/testing/sandbox.h"
#include "interop/interop_test_support.h"

namespace interop::testing {
namespace {

void UseStore(const std::string& path) {
  setenv("HANDHELD_STORE", path.c_str(), 1);
}

// Saves `made` into a new store, exports it to a folder and to a file, imports each into
// a store of its own, and compares what comes back with what was saved (its UIDs given
// by the first export when it had none).
template <class Values>
void ComesBackWhole(Kind kind, const std::vector<Values>& made,
                    std::vector<Values> (*read)(Session&), const std::string& dir) {
  UseStore(dir + "/made.db");
  std::vector<Values> saved;
  {
    Session session;
    ASSERT_EQ(session.logon(), S_OK);
    for (const Values& v : made) Add(session, v);
  }
  const std::string targets[] = {dir + "/folder/",
                                 dir + (kind == Kind::kContacts ? "/all.vcf" : "/all.ics")};
  for (const std::string& target : targets) {
    Moved out = Export(kind, target);
    EXPECT_EQ(out.Said(), "") << target;
    EXPECT_EQ(out.result.items, static_cast<long>(made.size())) << target;
  }
  {
    Session session;
    saved = ByUid(read(session));
  }
  for (const std::string& target : targets) {
    UseStore(target.substr(0, target.find_last_not_of('/') + 1) + ".db");
    EXPECT_EQ(Import(kind, target).Said(), "") << target;
    Session session;
    const std::vector<Values> back = ByUid(read(session));
    ASSERT_EQ(back.size(), saved.size()) << target;
    for (size_t i = 0; i < saved.size(); ++i) {
      EXPECT_EQ(Differences(saved[i], back[i]), "") << target << ", item " << i + 1;
    }
  }
}

TEST(RoundTrip, Contacts) {
  handheld::testing::Sandbox sandbox;
  std::vector<ContactValues> made;
  for (int n = 0; n < 40; ++n) made.push_back(Generator::Contact(n));
  // One contact with every text filled and one with none.
  made.push_back(Generator::Contact(1));
  for (std::u16string& text : made.back().texts) {
    if (text.empty()) text = u"filled";
  }
  made.back().uid = "full";
  made.emplace_back();
  ComesBackWhole(Kind::kContacts, made, Contacts, sandbox.dir());
}

struct Zone {
  const char* tz;
  const char* name;               // of the test
  std::vector<sys_days> changes;  // days of daylight-saving changes in the generated years
};

class ZoneRoundTrip : public ::testing::TestWithParam<Zone> {
 protected:
  void SetUp() override { setenv("TZ", GetParam().tz, 1); }
  std::vector<sys_days> Changes() const {
    return GetParam().changes.empty() ? std::vector<sys_days>{Day(2024, 6, 1)} : GetParam().changes;
  }
  handheld::testing::Sandbox sandbox_;
};

TEST_P(ZoneRoundTrip, Appointments) {
  Generator generate(1234);
  std::vector<AppointmentValues> made;
  for (int i = 0; i < 240; ++i) made.push_back(generate.Appointment(Changes()));
  ComesBackWhole(Kind::kEvents, made, Appointments, sandbox_.dir());
}

TEST_P(ZoneRoundTrip, Tasks) {
  Generator generate(5678);
  std::vector<TaskValues> made;
  for (int i = 0; i < 150; ++i) made.push_back(generate.Task());
  ComesBackWhole(Kind::kTasks, made, Tasks, sandbox_.dir());
}

INSTANTIATE_TEST_SUITE_P(
    Zones, ZoneRoundTrip,
    ::testing::Values(Zone{"Europe/Berlin", "Berlin",
                           {Day(2023, 3, 26), Day(2023, 10, 29), Day(2024, 3, 31),
                            Day(2024, 10, 27), Day(2025, 3, 30)}},
                      Zone{"America/New_York", "NewYork",
                           {Day(2023, 3, 12), Day(2023, 11, 5), Day(2024, 3, 10),
                            Day(2024, 11, 3)}},
                      Zone{"Asia/Kolkata", "Kolkata", {}}, Zone{"XYZ-3", "Unnamed", {}}),
    [](const ::testing::TestParamInfo<Zone>& info) { return info.param.name; });

// Items are read on a thread of their own, some batches ahead of the saving: a save that
// fails must stop both, keep what was saved before it, and leave nothing behind.
TEST(StoppedImport, ASaveThatFailsStopsTheImportWhereItStands) {
  handheld::testing::Sandbox sandbox;
  setenv("TZ", "Europe/Berlin", 1);
  const struct {
    Kind kind;
    const char* noun;
  } kCases[] = {{Kind::kContacts, "contact"}, {Kind::kEvents, "appointment"}};
  Generator generate(99);
  for (const auto& c : kCases) {
    const std::string name = c.noun;
    UseStore(sandbox.path(name + ".db"));
    {
      Session session;
      ASSERT_EQ(session.logon(), S_OK);
      for (int i = 0; i < 400; ++i) {
        if (c.kind == Kind::kContacts) Add(session, Generator::Contact(i));
        if (c.kind == Kind::kEvents) Add(session, generate.Appointment({Day(2024, 6, 1)}));
      }
    }
    const std::string file = sandbox.path(name + (c.kind == Kind::kContacts ? ".vcf" : ".ics"));
    ASSERT_EQ(Export(c.kind, file).Said(), "");

    UseStore(sandbox.path(name + "-back.db"));
    std::string error;
    ASSERT_TRUE(handheld::ArmFaults("save:100", &error)) << error;
    const Moved moved = Import(c.kind, file);
    handheld::ClearFaults();
    EXPECT_EQ(moved.result.ExitStatus(), 1) << name;
    EXPECT_EQ(moved.result.items, 99) << name;
    EXPECT_NE(moved.result.error.find(file + ": line "), std::string::npos) << moved.Said();
    EXPECT_NE(moved.result.error.find("the store could not save the " + name), std::string::npos)
        << moved.Said();
    Session session;
    EXPECT_EQ(c.kind == Kind::kContacts ? Contacts(session).size() : Appointments(session).size(),
              99u);
  }
}

}  // namespace
}  // namespace interop::testing
