// The user's answer to one of Automatic mode's questions, given in the menu
// bar panel or through a notification's buttons.
#pragma once

#include <optional>
#include <string_view>

namespace trevlin {

enum class AutoAnswer { limitOnce, always, ignore, never };

/// The identifier of the answer's notification button: "limit", "always",
/// "ignore", "never".
const char* actionKey(AutoAnswer answer);
/// The answer of a button identifier; absent for anything else (the default
/// action of a click on the notification's body, say).
std::optional<AutoAnswer> answerForActionKey(std::string_view key);

}  // namespace trevlin
