// The user's choices as kept in settings.json: the decoded value, its JSON
// codec and the whole-file load and save. Plain C++ so that every part of the
// app can use it; only the app model reads and writes the file.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace trevlin {

enum class RuleMode { off, automatic, custom };

const char* rawValue(RuleMode mode);
std::optional<RuleMode> ruleModeFromRaw(std::string_view raw);

/// One app's stored rule. It stays stored in every mode so that the last
/// custom values survive switching modes.
struct StoredRule {
    RuleMode mode = RuleMode::off;
    double maxCores = 4.0;
    /// Kept as written: a name the engine does not know survives a round trip
    /// and is applied as "smart".
    std::string method = "smart";
    bool alwaysEfficiency = false;
    bool pauseCatchUp = true;
    bool pauseSparesBusy = true;

    bool operator==(const StoredRule&) const = default;
};

/// The answers to Automatic mode's questions that are remembered.
enum class RememberedAnswer { always, never };

/// "always" or "never", as written in settings.json.
const char* rawValue(RememberedAnswer answer);
std::optional<RememberedAnswer> rememberedAnswerFromRaw(std::string_view raw);

/// A remembered answer to an Automatic mode question.
struct AutoDecisionRecord {
    /// The app's display name when the answer was given.
    std::string name;
    /// "always" or "never". Kept as written: another text survives a round
    /// trip and counts as no answer.
    std::string decision;

    /// The answer, absent when `decision` is none of the two.
    std::optional<RememberedAnswer> answer() const { return rememberedAnswerFromRaw(decision); }

    bool operator==(const AutoDecisionRecord&) const = default;
};

struct AppSettings {
    int version = 2;
    bool masterEnabled = false;
    bool showInDock = false;
    std::map<std::string, StoredRule> rules;
    bool autoEnabled = true;
    double autoTriggerCores = 2.0;
    double autoTriggerSeconds = 10.0;
    double autoLimitCores = 1.0;
    std::map<std::string, AutoDecisionRecord> autoDecisions;
    int chartRangeMinutes = 5;
    bool autoIncludeCommandLine = false;
    bool showSystemProcesses = false;
    bool experimentalSystemLimits = false;
    bool welcomeShown = false;
    /// "light", "dark" or "system".
    std::string appearance = "system";
    /// "slow" or "pause".
    std::string autoAction = "slow";

    bool operator==(const AppSettings&) const = default;
};

/// The result of loading the settings file.
struct LoadedSettings {
    AppSettings settings;
    /// A file is at the path after loading. False on a first launch and after
    /// a broken file was moved aside: the caller then saves at once so that a
    /// complete file is on disk.
    bool fileExists = false;
};

namespace SettingsStore {

/// A stored rule takes some 250 bytes: this is room for about 65,000 rules
/// and as many remembered answers (a file with 10,000 rules is 2.5 MB). A
/// larger file is none this program wrote; it is moved aside unread.
inline constexpr size_t maxFileBytes = 16 * 1024 * 1024;

/// `dataDir` + "/settings.json".
std::string path(const std::string& dataDir);

/// Decodes the file's bytes; absent when they are not a valid settings file
/// (malformed JSON, a wrong type, an unknown mode, an incomplete remembered
/// answer). Missing keys take their defaults; "cli:/" entries are kept here.
std::optional<AppSettings> decode(const std::string& bytes, std::string* error = nullptr);
/// Pretty-printed JSON with sorted keys and every key present.
std::string encode(const AppSettings& settings);

/// Reads settings.json from `dataDir`. An unreadable or missing file gives
/// the defaults silently; a file that does not decode or is larger than
/// `maxFileBytes` is moved aside under a time-stamped name (never over an
/// earlier one) and gives the defaults. Entries whose key begins with
/// "cli:/" are dropped.
LoadedSettings load(const std::string& dataDir);
/// Writes the whole value atomically, creating `dataDir` when needed. A
/// failure is logged and reported as false; nothing is retried.
bool saveNow(const AppSettings& settings, const std::string& dataDir);

}  // namespace SettingsStore

}  // namespace trevlin
