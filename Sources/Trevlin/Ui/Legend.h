// The key under a core bar: a performance and an efficiency swatch, each
// followed by its cores in use.
#pragma once

#include <QString>
#include <QWidget>

namespace trevlin::ui {

class Legend : public QWidget {
    Q_OBJECT
public:
    explicit Legend(QWidget* parent = nullptr);
    void setValues(double p, double e);

    /// "Performance 2.5" and "Efficiency 0.3".
    static QString performanceLabel(double p);
    static QString efficiencyLabel(double e);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent*) override;

private:
    double p_ = 0;
    double e_ = 0;
};

}  // namespace trevlin::ui
