#include "Settings.h"

#include "AppKey.h"
#include "Files.h"
#include "Log.h"
#include "Platform.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <ctime>
#include <stdexcept>

namespace trevlin {

using nlohmann::json;

const char* rawValue(RuleMode mode) {
    switch (mode) {
        case RuleMode::off: return "off";
        case RuleMode::automatic: return "automatic";
        case RuleMode::custom: return "custom";
    }
    return "off";
}

std::optional<RuleMode> ruleModeFromRaw(std::string_view raw) {
    for (RuleMode m : {RuleMode::off, RuleMode::automatic, RuleMode::custom})
        if (raw == rawValue(m)) return m;
    return std::nullopt;
}

const char* rawValue(RememberedAnswer answer) { return answer == RememberedAnswer::always ? "always" : "never"; }

std::optional<RememberedAnswer> rememberedAnswerFromRaw(std::string_view raw) {
    for (RememberedAnswer a : {RememberedAnswer::always, RememberedAnswer::never})
        if (raw == rawValue(a)) return a;
    return std::nullopt;
}

namespace {

struct DecodeError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A key that is absent or null keeps its default; any other value must have
// the right JSON type.
const json* present(const json& obj, const char* key) {
    auto it = obj.find(key);
    if (it == obj.end() || it->is_null()) return nullptr;
    return &*it;
}

void readBool(const json& obj, const char* key, bool& out) {
    if (const json* v = present(obj, key)) {
        if (!v->is_boolean()) throw DecodeError(std::string(key) + " is not a boolean");
        out = v->get<bool>();
    }
}

void readNumber(const json& obj, const char* key, double& out) {
    if (const json* v = present(obj, key)) {
        if (!v->is_number()) throw DecodeError(std::string(key) + " is not a number");
        out = v->get<double>();
    }
}

// Integers may be written with a zero fraction (5.0); 5.5 is not an integer.
void readInt(const json& obj, const char* key, int& out) {
    if (const json* v = present(obj, key)) {
        if (v->is_number_integer()) {
            if (v->is_number_unsigned() ? v->get<uint64_t>() > uint64_t(INT32_MAX)
                                        : (v->get<int64_t>() > INT32_MAX || v->get<int64_t>() < INT32_MIN))
                throw DecodeError(std::string(key) + " is out of range");
            out = static_cast<int>(v->get<int64_t>());
            return;
        }
        if (v->is_number_float()) {
            double d = v->get<double>();
            if (std::isfinite(d) && d == std::trunc(d) && d <= INT32_MAX && d >= INT32_MIN) {
                out = static_cast<int>(d);
                return;
            }
        }
        throw DecodeError(std::string(key) + " is not an integer");
    }
}

void readString(const json& obj, const char* key, std::string& out) {
    if (const json* v = present(obj, key)) {
        if (!v->is_string()) throw DecodeError(std::string(key) + " is not a string");
        out = v->get<std::string>();
    }
}

const json& requireObject(const json& v, const std::string& what) {
    if (!v.is_object()) throw DecodeError(what + " is not an object");
    return v;
}

StoredRule decodeRule(const json& v) {
    requireObject(v, "a rule");
    StoredRule r;
    std::string mode = rawValue(r.mode);
    readString(v, "mode", mode);
    auto m = ruleModeFromRaw(mode);
    if (!m) throw DecodeError("unknown rule mode \"" + mode + "\"");
    r.mode = *m;
    readNumber(v, "maxCores", r.maxCores);
    readString(v, "method", r.method);
    readBool(v, "alwaysEfficiency", r.alwaysEfficiency);
    readBool(v, "pauseCatchUp", r.pauseCatchUp);
    readBool(v, "pauseSparesBusy", r.pauseSparesBusy);
    return r;
}

AutoDecisionRecord decodeDecision(const json& v) {
    requireObject(v, "a remembered decision");
    auto name = v.find("name");
    auto decision = v.find("decision");
    if (name == v.end() || !name->is_string() || decision == v.end() || !decision->is_string())
        throw DecodeError("a remembered decision needs a name and a decision");
    return AutoDecisionRecord{name->get<std::string>(), decision->get<std::string>()};
}

std::string normalisedAppearance(const std::string& value) {
    return value == "light" || value == "dark" ? value : "system";
}

bool isLauncherPathKey(const std::string& key) { return AppKey(key).isLauncherPath(); }

}  // namespace

namespace SettingsStore {

std::string path(const std::string& dataDir) { return dataDir + "/settings.json"; }

std::optional<AppSettings> decode(const std::string& bytes, std::string* error) {
    try {
        json root = json::parse(bytes);
        requireObject(root, "the file");
        AppSettings s;  // `version` is not read: memory always holds 2
        readBool(root, "masterEnabled", s.masterEnabled);
        readBool(root, "showInDock", s.showInDock);
        if (const json* rules = present(root, "rules")) {
            requireObject(*rules, "rules");
            for (auto it = rules->begin(); it != rules->end(); ++it) s.rules[it.key()] = decodeRule(it.value());
        }
        readBool(root, "autoEnabled", s.autoEnabled);
        readNumber(root, "autoTriggerCores", s.autoTriggerCores);
        readNumber(root, "autoTriggerSeconds", s.autoTriggerSeconds);
        readNumber(root, "autoLimitCores", s.autoLimitCores);
        if (const json* decisions = present(root, "autoDecisions")) {
            requireObject(*decisions, "autoDecisions");
            for (auto it = decisions->begin(); it != decisions->end(); ++it)
                s.autoDecisions[it.key()] = decodeDecision(it.value());
        }
        readInt(root, "chartRangeMinutes", s.chartRangeMinutes);
        readBool(root, "autoIncludeCommandLine", s.autoIncludeCommandLine);
        readBool(root, "showSystemProcesses", s.showSystemProcesses);
        readBool(root, "experimentalSystemLimits", s.experimentalSystemLimits);
        readBool(root, "welcomeShown", s.welcomeShown);
        readString(root, "appearance", s.appearance);
        s.appearance = normalisedAppearance(s.appearance);
        readString(root, "autoAction", s.autoAction);
        return s;
    } catch (const std::exception& e) {
        if (error) *error = e.what();
        return std::nullopt;
    }
}

std::string encode(const AppSettings& s) {
    json rules = json::object();
    for (const auto& [key, r] : s.rules)
        rules[key] = json{{"mode", rawValue(r.mode)},
                          {"maxCores", r.maxCores},
                          {"method", r.method},
                          {"alwaysEfficiency", r.alwaysEfficiency},
                          {"pauseCatchUp", r.pauseCatchUp},
                          {"pauseSparesBusy", r.pauseSparesBusy}};
    json decisions = json::object();
    for (const auto& [key, d] : s.autoDecisions) decisions[key] = json{{"name", d.name}, {"decision", d.decision}};

    // nlohmann's objects keep their keys sorted.
    json root = {
        {"version", 2},
        {"masterEnabled", s.masterEnabled},
        {"showInDock", s.showInDock},
        {"rules", rules},
        {"autoEnabled", s.autoEnabled},
        {"autoTriggerCores", s.autoTriggerCores},
        {"autoTriggerSeconds", s.autoTriggerSeconds},
        {"autoLimitCores", s.autoLimitCores},
        {"autoDecisions", decisions},
        {"chartRangeMinutes", s.chartRangeMinutes},
        {"autoIncludeCommandLine", s.autoIncludeCommandLine},
        {"showSystemProcesses", s.showSystemProcesses},
        {"experimentalSystemLimits", s.experimentalSystemLimits},
        {"welcomeShown", s.welcomeShown},
        {"appearance", normalisedAppearance(s.appearance)},
        {"autoAction", s.autoAction},
    };
    // Replace rather than throw on a name that is not valid UTF-8.
    return root.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

LoadedSettings load(const std::string& dataDir) {
    const std::string file = path(dataDir);
    LoadedSettings out;
    Files::Error readError;
    auto bytes = Files::read(file, Files::ReadOptions{.maxBytes = maxFileBytes}, &readError);
    const bool refused = !bytes && readError.code == EFBIG;
    std::optional<AppSettings> decoded;
    if (bytes) decoded = decode(*bytes);
    if (decoded) {
        out.settings = std::move(*decoded);
    } else if (bytes || refused) {
        const std::string what = refused ? "settings.json is larger than " + std::to_string(maxFileBytes) +
                                               " bytes and was not read"
                                         : "settings.json could not be read";
        Files::Error error;
        if (auto aside = Files::moveAside(file, static_cast<double>(std::time(nullptr)), &error))
            logSystem("Trevlin: " + what + "; moved aside to " + *aside + " and using defaults");
        else
            logSystem("Trevlin: " + what + " and could not be moved aside (" + error.message + "); using defaults");
    }
    std::erase_if(out.settings.rules, [](const auto& entry) { return isLauncherPathKey(entry.first); });
    std::erase_if(out.settings.autoDecisions, [](const auto& entry) { return isLauncherPathKey(entry.first); });
    out.fileExists = Files::exists(file);
    return out;
}

bool saveNow(const AppSettings& settings, const std::string& dataDir) {
    Files::Error error;
    if (!Files::createDirectories(dataDir, &error) || !Files::writeAtomically(path(dataDir), encode(settings), &error)) {
        logSystem("Trevlin: could not save settings: " + error.message);
        return false;
    }
    return true;
}

}  // namespace SettingsStore

}  // namespace trevlin
