// The user's choices while the app runs: the decoded settings.json, the one
// source of truth from the moment it is loaded.
//
// Every change goes through a setter, which stores the value, schedules a
// save and announces the change with `changed`. A burst of changes (a slider
// being dragged, several settings changed by one action) is written once,
// 0.25 s after the last of them. Nothing else writes the value, so no change
// goes unsaved or unannounced.
//
// Main thread only. In render mode the file is neither read nor written.
#pragma once

#include "Settings.h"

#include <QObject>
#include <QTimer>

#include <optional>
#include <string>

namespace trevlin {

namespace testing {
class AppModelProbe;
}

class SettingsModel : public QObject {
    Q_OBJECT
public:
    /// Loads settings.json from `dataDirectory`, except in render mode.
    SettingsModel(std::string dataDirectory, bool renderMode, QObject* parent = nullptr);

    const AppSettings& value() const { return settings_; }
    /// Whether a file was at the path once loading was done: false on a
    /// first launch and after a broken file was moved aside (the caller then
    /// saves at once, so that a complete file is on disk).
    bool fileExisted() const { return fileExisted_; }
    const std::string& dataDirectory() const { return dataDirectory_; }

    // One setter per choice; each saves and announces.
    void setMasterEnabled(bool on);
    void setShowInDock(bool on);
    void setAutoEnabled(bool on);
    /// Automatic mode's thresholds; an absent value stays as it is.
    void setAutoTrigger(std::optional<double> cores, std::optional<double> seconds, std::optional<double> limit);
    void setAutoAction(const std::string& action);
    void setAppearance(const std::string& name);
    void setWelcomeShown();
    void setChartRangeMinutes(int minutes);
    void setAutoIncludeCommandLine(bool on);
    void setShowSystemProcesses(bool on);
    void setExperimentalSystemLimits(bool on);
    /// Stores the user's rule for an app; none removes it.
    void setRule(const std::string& key, std::optional<StoredRule> rule);
    /// Remembers an answer under the app's key with the name it had then.
    void rememberDecision(const std::string& key, const std::string& name, RememberedAnswer answer);
    void forgetDecision(const std::string& key);

    /// Schedules a save 0.25 s from now, replacing one still pending.
    void persist();
    /// Writes the value at once; a save still pending is dropped, as it
    /// would write the same.
    void saveNow();

signals:
    void changed();

private:
    friend class testing::AppModelProbe;

    /// Applies `change` to the value, then saves and announces it.
    template <class Change>
    void update(Change&& change) {
        change(settings_);
        persist();
        emit changed();
    }

    const std::string dataDirectory_;
    const bool renderMode_;
    AppSettings settings_;
    bool fileExisted_ = true;
    QTimer saveTimer_;
};

}  // namespace trevlin
