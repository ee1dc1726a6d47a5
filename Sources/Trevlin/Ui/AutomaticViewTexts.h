// What the Automatic page says and the ranges it offers, decided without a
// widget.
#pragma once

#include "Settings.h"

#include <QString>

#include <map>
#include <string>
#include <vector>

namespace trevlin::ui {

/// The label of the "slow" action: "Slow it to 1 core", "Slow it to 1.5 cores".
QString slowSegmentText(double limitCores);

/// The top of the cores steppers: the machine's logical core count, never
/// below the smallest step (0.5).
double coresStepperMaximum(int logicalCores);

/// A remembered decision as the page lists it.
struct DecisionRow {
    std::string path;
    AutoDecisionRecord record;
};

/// The remembered decisions by name, in the user's language's order and
/// ignoring case; equal names keep the order of their paths.
std::vector<DecisionRow> sortedDecisions(const std::map<std::string, AutoDecisionRecord>& decisions);

}  // namespace trevlin::ui
