#include "AutoAnswer.h"

namespace trevlin {

const char* actionKey(AutoAnswer answer) {
    switch (answer) {
        case AutoAnswer::limitOnce: return "limit";
        case AutoAnswer::always: return "always";
        case AutoAnswer::ignore: return "ignore";
        case AutoAnswer::never: return "never";
    }
    return "limit";
}

std::optional<AutoAnswer> answerForActionKey(std::string_view key) {
    for (AutoAnswer a : {AutoAnswer::limitOnce, AutoAnswer::always, AutoAnswer::ignore, AutoAnswer::never})
        if (key == actionKey(a)) return a;
    return std::nullopt;
}

}  // namespace trevlin
