// Generated stores exported to one .ics file and to a folder of files and imported
// back, as the tools do, property by property (the items matched by their UIDs): every recurrence
// type and end kind, all-day and timed items, reminders, attendees and texts, under two zones with
// daylight saving, one without, and one without a name (floating times).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "handheld/faults.h"
#include "handheld/testing/sandbox.h"
#include "interop/ical_test_support.h"

namespace interop::testing {
namespace {

struct Zone {
  const char* tz;
  std::vector<sys_days> changes;  // days of daylight-saving changes in the generated years
};

class RoundTrip : public ::testing::TestWithParam<Zone> {
 protected:
  void SetUp() override {
    sandbox_ = std::make_unique<handheld::testing::Sandbox>();
    setenv("TZ", GetParam().tz, 1);
  }
  void TearDown() override { sandbox_.reset(); }
  std::string Path(const std::string& name) { return sandbox_->path(name); }
  void UseStore(const std::string& name) { setenv("HANDHELD_STORE", Path(name).c_str(), 1); }

  std::unique_ptr<handheld::testing::Sandbox> sandbox_;
};

TEST_P(RoundTrip, AppointmentsComeBackPropertyByProperty) {
  Generator generate(1234);
  std::vector<AppointmentValues> made;
  UseStore("made.db");
  {
    Session session;
    ASSERT_EQ(session.logon(), S_OK);
    const std::vector<sys_days> changes =
        GetParam().changes.empty() ? std::vector<sys_days>{Day(2024, 6, 1)} : GetParam().changes;
    for (int i = 0; i < 240; ++i) {
      made.push_back(generate.Appointment(changes));
      AddAppointment(session, made.back());
    }
    made = ByUid(Appointments(session));
    EXPECT_EQ(Export(IcalKind::kEvents, Path("calendar.ics")), std::vector<std::string>{});
    EXPECT_EQ(Export(IcalKind::kEvents, Path("calendar/")), std::vector<std::string>{});
  }
  for (const char* source : {"calendar.ics", "calendar"}) {
    UseStore(std::string(source) + ".db");
    EXPECT_EQ(ImportInto(IcalKind::kEvents, Path(source)), std::vector<std::string>{}) << source;
    Session session;
    ASSERT_EQ(session.logon(), S_OK);
    const std::vector<AppointmentValues> back = ByUid(Appointments(session));
    ASSERT_EQ(back.size(), made.size()) << source;
    for (size_t i = 0; i < made.size(); ++i) {
      EXPECT_EQ(Differences(made[i], back[i]), "") << source << ", appointment " << i + 1;
    }
  }
}

TEST_P(RoundTrip, TasksComeBackPropertyByProperty) {
  Generator generate(5678);
  std::vector<TaskValues> made;
  UseStore("made.db");
  {
    Session session;
    ASSERT_EQ(session.logon(), S_OK);
    for (int i = 0; i < 150; ++i) {
      made.push_back(generate.Task());
      AddTask(session, made.back());
    }
    made = ByUid(Tasks(session));
    EXPECT_EQ(Export(IcalKind::kTodos, Path("tasks.ics")), std::vector<std::string>{});
    EXPECT_EQ(Export(IcalKind::kTodos, Path("tasks/")), std::vector<std::string>{});
  }
  for (const char* source : {"tasks.ics", "tasks"}) {
    UseStore(std::string(source) + ".db");
    EXPECT_EQ(ImportInto(IcalKind::kTodos, Path(source)), std::vector<std::string>{}) << source;
    Session session;
    ASSERT_EQ(session.logon(), S_OK);
    const std::vector<TaskValues> back = ByUid(Tasks(session));
    ASSERT_EQ(back.size(), made.size()) << source;
    for (size_t i = 0; i < made.size(); ++i) {
      EXPECT_EQ(Differences(made[i], back[i]), "") << source << ", task " << i + 1;
    }
  }
}

// Components are parsed on a thread of their own, some batches ahead of the saving: a
// save that fails must stop both, keep what was saved before it, and leave nothing behind.
TEST(StoppedImport, ASaveThatFailsStopsTheImportWhereItStands) {
  handheld::testing::Sandbox sandbox;
  setenv("TZ", "Europe/Berlin", 1);
  setenv("HANDHELD_STORE", sandbox.path("made.db").c_str(), 1);
  Generator generate(99);
  {
    Session session;
    ASSERT_EQ(session.logon(), S_OK);
    for (int i = 0; i < 400; ++i) AddAppointment(session, generate.Appointment({Day(2024, 6, 1)}));
  }
  ASSERT_EQ(Export(IcalKind::kEvents, sandbox.path("calendar.ics")), std::vector<std::string>{});

  setenv("HANDHELD_STORE", sandbox.path("back.db").c_str(), 1);
  std::string error;
  ASSERT_TRUE(handheld::ArmFaults("save:100", &error)) << error;
  const std::vector<std::string> reported =
      ImportInto(IcalKind::kEvents, sandbox.path("calendar.ics"));
  handheld::ClearFaults();
  std::string all;
  for (const std::string& line : reported) all += line + "\n";
  EXPECT_NE(all.find("calendar.ics: line "), std::string::npos) << all;
  EXPECT_NE(all.find("the store could not save the appointment"), std::string::npos) << all;
  Session session;
  ASSERT_EQ(session.logon(), S_OK);
  EXPECT_EQ(Appointments(session).size(), 99u);
}

INSTANTIATE_TEST_SUITE_P(Zones, RoundTrip,
                         ::testing::Values(Zone{"Europe/Berlin",
                                                {Day(2023, 3, 26), Day(2023, 10, 29),
                                                 Day(2024, 3, 31), Day(2024, 10, 27),
                                                 Day(2025, 3, 30)}},
                                           Zone{"America/New_York",
                                                {Day(2023, 3, 12), Day(2023, 11, 5),
                                                 Day(2024, 3, 10), Day(2024, 11, 3)}},
                                           Zone{"Asia/Kolkata", {}}, Zone{"XYZ-3", {}}),
                         [](const ::testing::TestParamInfo<Zone>& info) {
                           std::string name = info.param.tz;
                           for (char& c : name) {
                             if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                           }
                           return name;
                         });

}  // namespace
}  // namespace interop::testing
