#include "SavingsLedger.h"

#include "Files.h"
#include "Log.h"
#include "Utf8.h"
#include "ProcessUtil.h"

#include <ctime>
#include <nlohmann/json.hpp>
#include <set>

namespace trevlin {

using json = nlohmann::json;

namespace {

constexpr double kFreshSeconds = 3.0;
constexpr double kMaxSecondsPerReport = 3.0;

/// The seven local day keys from six days before `wallSeconds` to its day.
std::vector<std::string> lastSevenDays(double wallSeconds) {
    time_t t = static_cast<time_t>(wallSeconds);
    struct tm today{};
    ::localtime_r(&t, &today);
    std::vector<std::string> out;
    for (int back = 6; back >= 0; --back) {
        // Noon of each calendar day, so a daylight-saving change never
        // skips or repeats a day.
        struct tm day = today;
        day.tm_mday -= back;
        day.tm_hour = 12;
        day.tm_min = day.tm_sec = 0;
        day.tm_isdst = -1;
        time_t noon = ::mktime(&day);
        out.push_back(SavingsLedger::dayKey(static_cast<double>(noon)));
    }
    return out;
}

}  // namespace

std::optional<std::map<std::string, SavingsLedger::Day>> SavingsLedger::decode(const std::string& text) {
    json j = json::parse(text, nullptr, false);
    if (j.is_discarded() || !j.is_object()) return std::nullopt;
    auto version = j.find("version");
    auto days = j.find("days");
    if (version == j.end() || !version->is_number_integer() || days == j.end() || !days->is_object())
        return std::nullopt;
    std::map<std::string, SavingsLedger::Day> out;
    for (auto it = days->begin(); it != days->end(); ++it) {
        const json& d = it.value();
        if (!d.is_object()) return std::nullopt;
        auto total = d.find("total");
        auto apps = d.find("apps");
        if (total == d.end() || !total->is_number() || apps == d.end() || !apps->is_object()) return std::nullopt;
        SavingsLedger::Day day;
        day.total = total->get<double>();
        for (auto a = apps->begin(); a != apps->end(); ++a) {
            if (!a.value().is_number()) return std::nullopt;
            day.apps[a.key()] = a.value().get<double>();
        }
        out[it.key()] = std::move(day);
    }
    return out;
}

SavingsLedger::SavingsLedger(std::function<double()> uptime, std::function<double()> wallClock)
    : uptime_(std::move(uptime)), wallClock_(std::move(wallClock)) {}

std::string SavingsLedger::dayKey(double wallSeconds) {
    time_t t = static_cast<time_t>(wallSeconds);
    struct tm tm{};
    ::localtime_r(&t, &tm);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
    return buf;
}

void SavingsLedger::record(const std::string& key, double savedCores) {
    std::lock_guard<std::mutex> g(lock_);
    const double t = uptime_();
    auto previous = live_.find(key);
    std::optional<std::pair<double, double>> before;
    if (previous != live_.end()) before = previous->second;
    live_[key] = {t, savedCores};
    if (!before || !(before->second > 0 || savedCores > 0)) return;
    // The new value covers the time since the last report, at most 3 s.
    const double dt = t - before->first;
    const double coreSeconds = dt > kMaxSecondsPerReport ? savedCores * kMaxSecondsPerReport : savedCores * dt;
    if (!(coreSeconds > 0)) return;
    Day& day = days_[dayKey(wallClock_())];
    day.apps[key] += coreSeconds;
    day.total += coreSeconds;
    dirty_ = true;
    if (t - lastWrite_ >= writeInterval_) writeLocked();
}

void SavingsLedger::stop(const std::string& key) {
    std::lock_guard<std::mutex> g(lock_);
    live_.erase(key);
}

double SavingsLedger::currentSavedCores() {
    std::lock_guard<std::mutex> g(lock_);
    const double t = uptime_();
    double sum = 0;
    for (const auto& [key, v] : live_)
        if (t - v.first <= kFreshSeconds) sum += v.second;
    return sum;
}

SavingsSummary SavingsLedger::summary(double wallSeconds) {
    std::lock_guard<std::mutex> g(lock_);
    SavingsSummary s;
    const double t = uptime_();
    for (const auto& [key, v] : live_) {
        if (t - v.first > kFreshSeconds) continue;
        s.nowByKey[key] = v.second;
        s.nowCores += v.second;
    }
    const std::string today = dayKey(wallSeconds);
    if (auto it = days_.find(today); it != days_.end()) {
        s.todayCoreHours = it->second.total / 3600.0;
        for (const auto& [key, secs] : it->second.apps) s.todayByKey[key] = secs / 3600.0;
    }
    for (const auto& day : lastSevenDays(wallSeconds)) {
        auto it = days_.find(day);
        const double hours = it == days_.end() ? 0.0 : it->second.total / 3600.0;
        s.days.emplace_back(day, hours);
        s.last7DaysCoreHours += hours;
    }
    return s;
}

void SavingsLedger::pruneLocked(double wallSeconds) {
    const auto keep = lastSevenDays(wallSeconds);
    const std::set<std::string> kept(keep.begin(), keep.end());
    std::erase_if(days_, [&](const auto& kv) { return !kept.count(kv.first); });
}

void SavingsLedger::writeLocked() {
    lastWrite_ = uptime_();
    if (!path_) {
        dirty_ = false;
        return;
    }
    pruneLocked(wallClock_());
    json days = json::object();
    for (const auto& [key, day] : days_) {
        json apps = json::object();
        for (const auto& [app, secs] : day.apps) {
            // A key from a file name need not be UTF-8; keys that read the
            // same once their bad bytes are replaced share one entry.
            const std::string name = sanitizeUtf8(app);
            apps[name] = apps.value(name, 0.0) + secs;
        }
        days[key] = json{{"total", day.total}, {"apps", apps}};
    }
    json file{{"version", 1}, {"days", days}};
    Files::Error error;
    if (!Files::createDirectories(Files::directoryOf(*path_), &error) ||
        !Files::writeAtomically(*path_, file.dump(2) + "\n", &error)) {
        logSystem("Trevlin: could not write savings: " + error.message);
        return;
    }
    dirty_ = false;
    ++writes_;
}

void SavingsLedger::enablePersistence(const std::string& path) {
    std::lock_guard<std::mutex> g(lock_);
    path_ = path;
    Files::Error readError;
    auto text = Files::read(path, Files::ReadOptions{.maxBytes = maxFileBytes}, &readError);
    const bool refused = !text && readError.code == EFBIG;
    if (!text && !refused) return;
    auto decoded = refused ? std::nullopt : decode(*text);
    if (!decoded) {
        const std::string what = refused ? "savings.json is larger than " + std::to_string(maxFileBytes) +
                                               " bytes and was not read"
                                         : "savings.json could not be read";
        Files::Error error;
        if (auto aside = Files::moveAside(path, wallClock_(), &error))
            logSystem("Trevlin: " + what + "; moved aside to " + *aside + " and starting empty");
        else
            logSystem("Trevlin: " + what + " and could not be moved aside (" + error.message + ")");
        return;
    }
    for (auto& [key, day] : *decoded) days_[key] = std::move(day);
    pruneLocked(wallClock_());
}

void SavingsLedger::flush() {
    std::lock_guard<std::mutex> g(lock_);
    if (dirty_) writeLocked();
}

std::map<std::string, SavingsLedger::Day> SavingsLedger::days() {
    std::lock_guard<std::mutex> g(lock_);
    return days_;
}

bool SavingsLedger::isDirty() {
    std::lock_guard<std::mutex> g(lock_);
    return dirty_;
}

int SavingsLedger::writes() {
    std::lock_guard<std::mutex> g(lock_);
    return writes_;
}

}  // namespace trevlin
