#include "MainWindow.h"

#include "PaneTitle.h"
#include "Sections.h"
#include "Sidebar.h"
#include "Symbols.h"
#include "Theme.h"

#include <QAbstractButton>
#include <QEvent>
#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QSplitter>
#include <QStackedWidget>
#include <QVBoxLayout>
#include <QWindow>

namespace trevlin::ui {

namespace {

/// A page not built yet: its title, at the top.
QWidget* placeholderPage(Section section) {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(24, 20, 24, 20);
    layout->addWidget(new PaneTitle(sectionTitle(section), page));
    layout->addStretch(1);
    return page;
}

/// The panel's way in when there is no tray: the gauge and the cores figure.
class PanelButton : public QAbstractButton {
public:
    PanelButton(AppModel& model, QWidget* parent) : QAbstractButton(parent), model_(model) {
        setFixedHeight(30);
        setCursor(Qt::PointingHandCursor);
        setToolTip("Trevlin");
        setAccessibleName("Trevlin");
        connect(&model_, &AppModel::labelChanged, this, qOverload<>(&QWidget::update));
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF row = QRectF(rect()).adjusted(8, 2, -8, -2);
        if (isDown() || underMouse()) {
            QPainterPath bg;
            bg.addRoundedRect(row, 6, 6);
            p.fillPath(bg, Theme::withOpacity(Theme::primary(palette()), 0.08));
        }
        const QRectF gauge(row.left() + 8, row.center().y() - 8, 16, 16);
        Symbols::paintMenuBarIcon(p, gauge, Theme::primary(palette()));
        p.setPen(Theme::primary(palette()));
        p.setFont(Theme::monospaceFont(13, QFont::DemiBold));
        p.drawText(row.adjusted(32, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft,
                   QString::fromStdString(model_.labelText()));
    }

private:
    AppModel& model_;
};

}  // namespace

MainWindow::MainWindow(AppModel& model, QWidget* parent) : QWidget(parent, Qt::Window), model_(model) {
    setWindowTitle("Trevlin");
    setMinimumSize(kMinimumSize);
    resize(kInitialSize);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    splitter_ = new QSplitter(Qt::Horizontal, this);
    splitter_->setChildrenCollapsible(false);
    splitter_->setHandleWidth(1);
    layout->addWidget(splitter_);

    auto* side = new QWidget(splitter_);
    side->setMinimumWidth(Sidebar::kMinWidth);
    side->setMaximumWidth(Sidebar::kMaxWidth);
    auto* sideColumn = new QVBoxLayout(side);
    sideColumn->setContentsMargins(0, 0, 0, 8);
    sideColumn->setSpacing(0);
    sidebar_ = new Sidebar(model_, side);
    sideColumn->addWidget(sidebar_, 1);
    panelButton_ = new PanelButton(model_, side);
    panelButton_->hide();
    sideColumn->addWidget(panelButton_);
    connect(panelButton_, &QAbstractButton::clicked, this, [this] {
        if (!openPanel_) return;
        openPanel_(QRect(panelButton_->mapToGlobal(QPoint(0, 0)), panelButton_->size()));
    });

    pages_ = new QStackedWidget(splitter_);
    pages_->setAutoFillBackground(true);
    pages_->setBackgroundRole(QPalette::Base);
    for (Section s : kAllSections) pages_->addWidget(placeholderPage(s));
    splitter_->addWidget(side);
    splitter_->addWidget(pages_);
    splitter_->setStretchFactor(0, 0);
    splitter_->setStretchFactor(1, 1);
    splitter_->setSizes({Sidebar::kIdealWidth, kInitialSize.width() - Sidebar::kIdealWidth});

    showSection();
    connect(&model_, &AppModel::sectionChanged, this, &MainWindow::showSection);
}

MainWindow::~MainWindow() {
    if (model_.windowVisible()) model_.setWindowVisible(false);
}

QWidget* MainWindow::page(Section section) const { return pages_->widget(sidebar_->rowOf(section)); }

void MainWindow::setPage(Section section, QWidget* page) {
    const int index = sidebar_->rowOf(section);
    QWidget* old = pages_->widget(index);
    pages_->insertWidget(index, page);
    pages_->removeWidget(old);
    old->deleteLater();
    showSection();
}

void MainWindow::setPanelOpener(std::function<void(const QRect&)> open) {
    openPanel_ = std::move(open);
    panelButton_->setVisible(static_cast<bool>(openPanel_));
}

void MainWindow::showSection() { pages_->setCurrentIndex(sidebar_->rowOf(model_.section())); }

bool MainWindow::event(QEvent* event) {
    const bool result = QWidget::event(event);
    switch (event->type()) {
    case QEvent::Show:
        // The native window exists from the first show on: its exposure
        // (unmapped, minimised, on another desktop) counts too.
        if (!watchingHandle_ && windowHandle()) {
            windowHandle()->installEventFilter(this);
            watchingHandle_ = true;
        }
        reportVisibility();
        break;
    case QEvent::Hide:
    case QEvent::WindowStateChange:
        reportVisibility();
        break;
    default:
        break;
    }
    return result;
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == windowHandle() && event->type() == QEvent::Expose)
        // After the window has handled it, so `isExposed` is current.
        QMetaObject::invokeMethod(this, &MainWindow::reportVisibility, Qt::QueuedConnection);
    return QWidget::eventFilter(watched, event);
}

void MainWindow::reportVisibility() {
    const bool exposed = !windowHandle() || windowHandle()->isExposed();
    model_.setWindowVisible(isVisible() && !isMinimized() && exposed);
}

void MainWindow::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), palette().color(QPalette::Window));
}

}  // namespace trevlin::ui
