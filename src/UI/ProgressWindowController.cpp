#include "UI/ProgressWindowController.h"

#include <algorithm>

#include <QCloseEvent>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

#include "UI/DockPresence.h"
#include "UI/ElidedLabel.h"

namespace tovani {
namespace {

constexpr int windowWidth = 440;

// The window has no close control; a close the user asks for through the
// window manager is refused, so that the only way out is Cancel. Closes from
// the app itself (finish, quitting) go through.
class ProgressWindow : public QWidget {
public:
    ProgressWindow()
        : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {}

protected:
    void closeEvent(QCloseEvent* event) override {
        if (event->spontaneous() && !QCoreApplication::closingDown()) {
            event->ignore();
            return;
        }
        QWidget::closeEvent(event);
    }
};

QFont smallFont(const QWidget* widget) {
    QFont font = widget->font();
    font.setPointSizeF(font.pointSizeF() * 11.0 / 13.0);
    return font;
}

void makeSecondary(QLabel* label) {
    label->setFont(smallFont(label));
    QPalette palette = label->palette();
    QColor color = palette.color(QPalette::WindowText);
    color.setAlphaF(0.6f);
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
}

}  // namespace

ProgressWindowController::ProgressWindowController(QObject* parent)
    : QObject(parent), window_(std::make_unique<ProgressWindow>()) {
    window_->setObjectName("progressWindow");
    window_->setWindowTitle(QCoreApplication::applicationName());
    window_->setAttribute(Qt::WA_ShowWithoutActivating);
    window_->setAttribute(Qt::WA_DeleteOnClose, false);

    appearanceTimer_ = new QTimer(this);
    appearanceTimer_->setObjectName("appearanceTimer");
    appearanceTimer_->setSingleShot(true);
    appearanceTimer_->setInterval(appearanceDelayMs);
    // The timer is a child of the controller, so it cannot fire once the
    // controller is gone.
    connect(appearanceTimer_, &QTimer::timeout, this, &ProgressWindowController::appear);

    buildContent();

    if (const QScreen* screen = window_->screen()) {
        QRect frame = window_->frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        window_->move(frame.topLeft());
    }
}

ProgressWindowController::~ProgressWindowController() = default;

void ProgressWindowController::buildContent() {
    QWidget* window = window_.get();

    auto* title = new ElidedLabel(window);
    QFont semibold = title->font();
    semibold.setWeight(QFont::DemiBold);
    title->setFont(semibold);
    titleLabel_ = title;

    auto* detail = new ElidedLabel(window);
    makeSecondary(detail);
    detailLabel_ = detail;

    countLabel_ = new QLabel(window);
    countLabel_->setTextFormat(Qt::PlainText);
    makeSecondary(countLabel_);
    countLabel_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    countLabel_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    progressBar_ = new QProgressBar(window);
    progressBar_->setRange(0, barScale);
    progressBar_->setValue(0);
    progressBar_->setTextVisible(false);

    cancelButton_ = new QPushButton(tr("Cancel"), window);
    cancelButton_->setShortcut(QKeySequence(Qt::Key_Escape));
    cancelButton_->setAutoDefault(false);
    cancelButton_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    connect(cancelButton_, &QPushButton::clicked, this, &ProgressWindowController::cancel);

    titleLabel_->setObjectName("titleLabel");
    detailLabel_->setObjectName("detailLabel");
    countLabel_->setObjectName("countLabel");
    progressBar_->setObjectName("progressBar");
    cancelButton_->setObjectName("cancelButton");

    auto* progressRow = new QHBoxLayout;
    progressRow->setSpacing(12);
    progressRow->addWidget(progressBar_, 1);
    progressRow->addWidget(cancelButton_, 0);

    auto* detailRow = new QHBoxLayout;
    detailRow->setSpacing(12);
    detailRow->addWidget(detailLabel_, 1);
    detailRow->addWidget(countLabel_, 0);

    auto* stack = new QVBoxLayout(window);
    stack->setContentsMargins(20, 16, 20, 16);
    stack->setSpacing(8);
    stack->addWidget(titleLabel_);
    stack->addLayout(progressRow);
    stack->addLayout(detailRow);

    // The width is fixed; the height is what the content needs. The labels
    // never ask for more width, so long texts are shortened instead.
    window->setFixedSize(windowWidth, stack->sizeHint().height());
}

void ProgressWindowController::setOnCancel(std::function<void()> onCancel) {
    onCancel_ = std::move(onCancel);
}

void ProgressWindowController::begin(const QString& archiveName, std::int64_t position,
                                     std::int64_t total) {
    titleLabel_->setText(tr("Extracting “%1”").arg(archiveName));
    detailLabel_->clear();
    countLabel_->setText(total >= 2 ? tr("%1 of %2").arg(position).arg(total) : QString());
    cancelButton_->setEnabled(true);
    // A range of 0..0 is the indeterminate, animated bar.
    progressBar_->setRange(0, 0);

    if (window_->isVisible() || appearanceTimer_->isActive()) {
        return;
    }
    appearanceTimer_->start();
}

void ProgressWindowController::update(const ExtractionProgress& progress) {
    // A disabled button means the user cancelled this job: keep "Cancelling…".
    if (!cancelButton_->isEnabled()) {
        return;
    }
    detailLabel_->setText(QString::fromStdString(progress.currentPath));
    if (progress.totalBytes == 0) {
        return;
    }
    if (progressBar_->maximum() == 0) {
        progressBar_->setRange(0, barScale);
    }
    const double fraction =
        static_cast<double>(progress.completedBytes) / static_cast<double>(progress.totalBytes);
    progressBar_->setValue(static_cast<int>(std::min(fraction, 1.0) * barScale));
}

void ProgressWindowController::finish() {
    appearanceTimer_->stop();
    window_->close();
    DockPresence::refresh();
}

QWidget* ProgressWindowController::window() const {
    return window_.get();
}

bool ProgressWindowController::isAppearancePending() const {
    return appearanceTimer_->isActive();
}

void ProgressWindowController::appear() {
    // Comes to the front without taking the focus from what the user is doing.
    window_->show();
    window_->raise();
    DockPresence::refresh();
}

void ProgressWindowController::cancel() {
    cancelButton_->setEnabled(false);
    detailLabel_->setText(tr("Cancelling…"));
    if (onCancel_) {
        onCancel_();
    }
}

}  // namespace tovani
