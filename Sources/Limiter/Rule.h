// What the engine enforces for one app or command-line group.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace trevlin {

enum class Method { smart, ecores, strict, pause };

const char* rawValue(Method m);
/// The method with that raw string (case-sensitive), absent for any other.
std::optional<Method> methodFromRaw(const std::string& raw);
const std::vector<Method>& allMethods();

enum class PauseState { none, inFront, paused, catchUp, spared };

const char* rawValue(PauseState s);
std::optional<PauseState> pauseStateFromRaw(const std::string& raw);

struct Rule {
    double maxCores;
    Method method;
    bool alwaysEfficiency;
    bool pauseCatchUp;
    bool pauseSparesBusy;

    Rule(double cores, Method how, bool efficiency, bool catchUp, bool sparesBusy)
        : maxCores(cores), method(how), alwaysEfficiency(efficiency), pauseCatchUp(catchUp),
          pauseSparesBusy(sparesBusy) {}
    bool operator==(const Rule&) const = default;
};

}  // namespace trevlin
