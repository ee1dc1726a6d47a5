// Core-seconds from once-a-second reports, the seven days, savings.json.
#include "Files.h"
#include "SavingsLedger.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

using namespace trevlin;
using namespace trevlin::test;

namespace {

// 2026-03-07 12:00 local time.
double localNoon(int year, int month, int day) {
    struct tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = 12;
    tm.tm_isdst = -1;
    return static_cast<double>(::mktime(&tm));
}

class Ledger : public ::testing::Test {
protected:
    double uptime = 1000;
    double wall = localNoon(2026, 3, 7);
    SavingsLedger ledger{[this] { return uptime; }, [this] { return wall; }};
    TempDir dir;

    std::vector<std::string> filesIn() {
        std::vector<std::string> out;
        for (auto& e : std::filesystem::directory_iterator(dir.path())) out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }
};

TEST_F(Ledger, ReportsBecomeCoreSecondsCappedAtThreeSecondsEach) {
    ledger.record("a", 0.5);
    EXPECT_TRUE(ledger.days().empty());  // the first report has no interval yet
    EXPECT_FALSE(ledger.isDirty());
    uptime += 10;
    ledger.record("a", 0.5);
    EXPECT_DOUBLE_EQ(ledger.days().at("2026-03-07").apps.at("a"), 1.5);
    uptime += 1;
    ledger.record("a", 2.0);
    uptime += 1;
    ledger.record("b", 1.0);  // first for b
    uptime += 1;
    ledger.record("b", 1.0);
    auto day = ledger.days().at("2026-03-07");
    EXPECT_DOUBLE_EQ(day.apps.at("a"), 3.5);
    EXPECT_DOUBLE_EQ(day.apps.at("b"), 1.0);
    EXPECT_DOUBLE_EQ(day.total, 4.5);
}

TEST_F(Ledger, ZeroAfterZeroIsNotAChange) {
    ledger.record("a", 0);
    uptime += 1;
    ledger.record("a", 0);
    EXPECT_FALSE(ledger.isDirty());
    EXPECT_TRUE(ledger.days().empty());
}

TEST_F(Ledger, LiveValuesOlderThanThreeSecondsAreLeftOut) {
    ledger.record("a", 0.5);
    uptime += 1;
    ledger.record("b", 1.0);
    uptime += 2.5;  // a is 3.5 s old, b 2.5 s
    EXPECT_DOUBLE_EQ(ledger.currentSavedCores(), 1.0);
    SavingsSummary s = ledger.summary(wall);
    EXPECT_DOUBLE_EQ(s.nowCores, 1.0);
    EXPECT_EQ(s.nowByKey, (std::map<std::string, double>{{"b", 1.0}}));
    ledger.stop("b");
    EXPECT_DOUBLE_EQ(ledger.currentSavedCores(), 0.0);
}

TEST_F(Ledger, SummaryCoversSevenLocalDaysTodayLast) {
    ledger.record("a", 1.0);
    for (int i = 0; i < 3; ++i) {
        uptime += 1;
        ledger.record("a", 1.0);
    }
    SavingsSummary s = ledger.summary(wall);
    ASSERT_EQ(s.days.size(), 7u);
    EXPECT_EQ(s.days.front().first, "2026-03-01");
    EXPECT_EQ(s.days.back().first, "2026-03-07");
    EXPECT_DOUBLE_EQ(s.days.back().second, 3.0 / 3600);
    EXPECT_DOUBLE_EQ(s.todayCoreHours, 3.0 / 3600);
    EXPECT_DOUBLE_EQ(s.todayByKey.at("a"), 3.0 / 3600);
    EXPECT_DOUBLE_EQ(s.last7DaysCoreHours, 3.0 / 3600);
    // A week later none of it is in the window.
    SavingsSummary later = ledger.summary(localNoon(2026, 3, 14));
    EXPECT_DOUBLE_EQ(later.last7DaysCoreHours, 0);
    EXPECT_EQ(later.days.front().first, "2026-03-08");
}

TEST_F(Ledger, FileIsWrittenAtMostEveryThirtySecondsSortedAndPruned) {
    const std::string path = dir.path() + "/data/savings.json";
    // An eight-day-old day and one from six days ago are on disk.
    dir.write("data/savings.json", R"({"version":1,"days":{"2026-02-27":{"total":50,"apps":{"x":50}},
        "2026-03-01":{"total":7,"apps":{"x":7}}}})");
    ledger.enablePersistence(path);
    EXPECT_EQ(ledger.days().count("2026-02-27"), 0u);
    EXPECT_EQ(ledger.days().count("2026-03-01"), 1u);

    ledger.record("b", 1.0);
    uptime += 1;
    ledger.record("b", 1.0);  // uptime 1001 ≥ 30 after lastWrite 0: written now
    EXPECT_EQ(ledger.writes(), 1);
    uptime += 1;
    ledger.record("b", 1.0);
    EXPECT_EQ(ledger.writes(), 1);  // within 30 s
    EXPECT_TRUE(ledger.isDirty());
    uptime += 29;
    ledger.record("b", 1.0);
    EXPECT_EQ(ledger.writes(), 2);
    EXPECT_FALSE(ledger.isDirty());

    std::ifstream in(path);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, R"({
  "days": {
    "2026-03-01": {
      "apps": {
        "x": 7.0
      },
      "total": 7.0
    },
    "2026-03-07": {
      "apps": {
        "b": 5.0
      },
      "total": 5.0
    }
  },
  "version": 1
}
)");
}

TEST_F(Ledger, AMalformedFileIsMovedAsideOnceAndMemoryKept) {
    const std::string path = dir.write("savings.json", "{\"version\": 1, \"days\": {\"2026-03-07\": {\"total\": 1}}}");
    ledger.record("a", 1.0);
    uptime += 2;
    ledger.record("a", 1.0);
    ledger.enablePersistence(path);
    auto files = filesIn();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].rfind("savings.invalid-", 0), 0u) << files[0];
    EXPECT_EQ(files[0].find(':'), std::string::npos);
    EXPECT_DOUBLE_EQ(ledger.days().at("2026-03-07").total, 2.0);
    // The next write creates a fresh file; the moved one stays untouched.
    uptime += 1;
    ledger.record("a", 1.0);
    ledger.flush();
    files = filesIn();
    EXPECT_EQ(files.size(), 2u);
    ledger.enablePersistence(path);
    EXPECT_EQ(filesIn().size(), 2u);
}

TEST_F(Ledger, FilesMovedAsideInTheSameSecondAllSurvive) {
    const std::string path = dir.path() + "/savings.json";
    for (const char* text : {"first broken", "second broken", "{\"version\": 1}"}) {
        dir.write("savings.json", text);
        SavingsLedger again{[this] { return uptime; }, [this] { return wall; }};
        again.enablePersistence(path);
    }
    const std::string stamp = Files::fileTimestamp(wall);
    const std::string first = "savings.invalid-" + stamp + ".json";
    const std::string second = "savings.invalid-" + stamp + "-2.json";
    const std::string third = "savings.invalid-" + stamp + "-3.json";
    EXPECT_EQ(filesIn(), (std::vector<std::string>{second, third, first}));
    EXPECT_EQ(Files::read(dir.path() + "/" + first), "first broken");
    EXPECT_EQ(Files::read(dir.path() + "/" + second), "second broken");
    EXPECT_EQ(Files::read(dir.path() + "/" + third), "{\"version\": 1}");
}

TEST_F(Ledger, AFileFarAboveAnyRealSizeIsMovedAsideUnread) {
    ledger.record("a", 1.0);
    uptime += 2;
    ledger.record("a", 1.0);
    const std::string path = dir.write("savings.json", "");
    ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(SavingsLedger::maxFileBytes) + 1), 0);
    ::testing::internal::CaptureStderr();
    ledger.enablePersistence(path);
    const std::string err = ::testing::internal::GetCapturedStderr();
    const std::string aside = "savings.invalid-" + Files::fileTimestamp(wall) + ".json";
    EXPECT_EQ(filesIn(), std::vector<std::string>{aside});
    EXPECT_EQ(std::filesystem::file_size(dir.path() + "/" + aside), SavingsLedger::maxFileBytes + 1);
    EXPECT_NE(err.find("Trevlin: savings.json is larger than 8388608 bytes and was not read; moved aside to " + aside +
                       " and starting empty"),
              std::string::npos)
        << err;
    EXPECT_DOUBLE_EQ(ledger.days().at("2026-03-07").total, 2.0);
}

TEST_F(Ledger, MissingFileKeepsMemoryAndAWriteFailureRetries) {
    ledger.enablePersistence(dir.path() + "/none/savings.json");
    ledger.record("a", 1.0);
    uptime += 1;
    ledger.record("a", 1.0);
    EXPECT_EQ(ledger.writes(), 1);

    // A folder where the file should be: the write fails and stays dirty.
    SavingsLedger blocked{[this] { return uptime; }, [this] { return wall; }};
    dir.mkdir("blocked/savings.json");
    blocked.enablePersistence(dir.path() + "/blocked/savings.json");
    blocked.record("a", 1.0);
    uptime += 1;
    blocked.record("a", 1.0);
    EXPECT_EQ(blocked.writes(), 0);
    EXPECT_TRUE(blocked.isDirty());
}

TEST_F(Ledger, AKeyThatIsNotUtf8IsStillWritten) {
    const std::string path = dir.path() + "/savings.json";
    ledger.enablePersistence(path);
    const std::string key = "cli:build-\xe9t\xe9";
    ledger.record(key, 1.0);
    uptime += 1;
    EXPECT_NO_THROW(ledger.record(key, 1.0));
    EXPECT_EQ(ledger.writes(), 1);
    EXPECT_FALSE(ledger.isDirty());

    // The file reads back: nothing is moved aside and the day's total is there.
    SavingsLedger again{[this] { return uptime; }, [this] { return wall; }};
    again.enablePersistence(path);
    EXPECT_EQ(filesIn(), std::vector<std::string>{"savings.json"});
    EXPECT_DOUBLE_EQ(again.days().at("2026-03-07").total, 1.0);

    // What accrues under the original key after a reload adds up with what
    // was read back, in one entry of the file.
    again.record(key, 1.0);
    uptime += 1;
    again.record(key, 1.0);
    again.flush();
    auto file = nlohmann::json::parse(std::ifstream(path));
    const auto& apps = file.at("days").at("2026-03-07").at("apps");
    ASSERT_EQ(apps.size(), 1u);
    EXPECT_DOUBLE_EQ(apps.begin()->get<double>(), 2.0);
}

}  // namespace
