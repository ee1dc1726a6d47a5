#include "AutomaticViewTexts.h"

#include <QCollator>

#include <algorithm>
#include <cstdio>

namespace trevlin::ui {

QString slowSegmentText(double limitCores) {
    char number[32];
    std::snprintf(number, sizeof number, "%g", limitCores);
    return QString("Slow it to %1 core%2").arg(number, limitCores == 1.0 ? "" : "s");
}

double coresStepperMaximum(int logicalCores) { return std::max(0.5, static_cast<double>(logicalCores)); }

std::vector<DecisionRow> sortedDecisions(const std::map<std::string, AutoDecisionRecord>& decisions) {
    std::vector<DecisionRow> rows;
    rows.reserve(decisions.size());
    for (const auto& [path, record] : decisions) rows.push_back({path, record});
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    // The map hands the rows over in path order, so a stable sort keeps
    // that order among equal names.
    std::stable_sort(rows.begin(), rows.end(), [&](const DecisionRow& a, const DecisionRow& b) {
        return collator.compare(QString::fromStdString(a.record.name), QString::fromStdString(b.record.name)) < 0;
    });
    return rows;
}

}  // namespace trevlin::ui
