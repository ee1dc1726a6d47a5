#include "AppKey.h"

#include "Paths.h"

namespace trevlin {

namespace {

// Claude Code runs as an executable named "claude" inside a "claude-code"
// folder; its group carries the folder's name.
constexpr std::string_view kClaudeGroup = "claude-code";
constexpr std::string_view kClaudeExecutable = "claude";
constexpr std::string_view kClaudeFolder = "/claude-code/";
constexpr const char* kClaudeDisplayName = "Claude Code";

}  // namespace

AppKey AppKey::forLauncher(const std::string& executablePath) {
    std::string name = lastPathComponent(executablePath);
    if (name == kClaudeExecutable && executablePath.find(kClaudeFolder) != std::string::npos)
        return forGroup(kClaudeGroup);
    return forGroup(name);
}

AppKey AppKey::forGroup(std::string_view name) {
    std::string text(groupPrefix);
    text += name;
    return AppKey(std::move(text));
}

std::string_view AppKey::groupName() const {
    if (!isCommandLineGroup()) return {};
    return std::string_view(text_).substr(groupPrefix.size());
}

std::string AppKey::launcherName() const {
    std::string_view name = groupName();
    if (name == kClaudeGroup) return std::string(kClaudeExecutable);
    return std::string(name);
}

std::optional<std::string> AppKey::bundlePath() const {
    if (isCommandLineGroup()) return std::nullopt;
    return text_;
}

std::string AppKey::displayName() const {
    if (!isCommandLineGroup()) return deletingPathExtension(lastPathComponent(text_));
    std::string_view name = groupName();
    if (name == kClaudeGroup) return kClaudeDisplayName;
    return std::string(name);
}

bool AppKey::isWellFormedGroup() const {
    std::string_view name = groupName();
    return !name.empty() && name.find('/') == std::string_view::npos;
}

bool AppKey::isLauncherPath() const { return groupName().substr(0, 1) == "/"; }

}  // namespace trevlin
