// What names one app everywhere: in the rules and remembered answers of
// settings.json, in the limiter's rules and journal, in the monitor's rows.
//
// A key is either the full path of an app's bundle (its .desktop file) or,
// for work started from a terminal, "cli:" followed by the name of the
// command-line launcher that started it ("cli:node", "cli:make"). Keys stay
// plain strings where they are stored (files, maps); this type is how they
// are built and read, so that the prefix and its special cases live in one
// place.
#pragma once

#include <compare>
#include <optional>
#include <string>
#include <string_view>

namespace trevlin {

class AppKey {
public:
    /// What the key of every command-line group begins with.
    static constexpr std::string_view groupPrefix = "cli:";

    /// Any text is a key: a command-line group when it begins with the
    /// prefix, an app's bundle path otherwise.
    explicit AppKey(std::string text) : text_(std::move(text)) {}

    /// The group of a launcher's executable: "cli:" + its file name, except
    /// that Claude Code's "claude" (in a "/claude-code/" folder) is
    /// "cli:claude-code", so that it does not share a group with another
    /// program of that name.
    static AppKey forLauncher(const std::string& executablePath);
    /// "cli:" + `name`.
    static AppKey forGroup(std::string_view name);

    /// Whether `key` names a command-line group, for code that holds keys as
    /// strings in its own tables.
    static bool isGroupKey(std::string_view key) { return key.substr(0, groupPrefix.size()) == groupPrefix; }

    const std::string& text() const { return text_; }
    bool isCommandLineGroup() const { return isGroupKey(text_); }

    /// What follows the prefix of a group ("node" for "cli:node"); empty for
    /// an app.
    std::string_view groupName() const;
    /// The file name of the executable that starts a group: the group name,
    /// but "claude" for Claude Code's group; empty for an app.
    std::string launcherName() const;
    /// The bundle path of an app; absent for a group.
    std::optional<std::string> bundlePath() const;
    /// The name shown while no running app gives one: "Claude Code" for its
    /// group, the group name for any other group, the bundle's file name
    /// without its extension for an app.
    std::string displayName() const;

    /// A group key that names a launcher the way keys are built today: a
    /// name after the prefix, without any "/".
    bool isWellFormedGroup() const;
    /// A group keyed by its launcher's full path ("cli:/usr/bin/node"), as an
    /// earlier version did; such keys no longer match any group.
    bool isLauncherPath() const;

    friend auto operator<=>(const AppKey&, const AppKey&) = default;
    friend bool operator==(const AppKey&, const AppKey&) = default;

private:
    std::string text_;
};

}  // namespace trevlin
