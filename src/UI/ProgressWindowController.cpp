#include "UI/ProgressWindowController.h"

#include <algorithm>

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

#include "Messages/ByteCountFormatter.h"
#include "UI/DockPresence.h"
#include "UI/ElidedLabel.h"
#include "UI/RunModal.h"

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

ProgressWindowController::ProgressWindowController(QObject* parent, Clock clock,
                                                   std::unique_ptr<DelayTimer> appearanceTimer)
    : QObject(parent),
      clock_(clock ? std::move(clock) : Clock([] { return std::chrono::steady_clock::now(); })),
      window_(std::make_unique<ProgressWindow>()),
      // Owned by the controller, so it cannot fire once the controller is gone.
      appearanceTimer_(appearanceTimer ? std::move(appearanceTimer) : makeDelayTimer()) {
    window_->setObjectName("progressWindow");
    window_->setWindowTitle(QCoreApplication::applicationName());
    window_->setAttribute(Qt::WA_DeleteOnClose, false);

    buildContent();
    // Dialogs opened while the window is up stay above it.
    setDialogAnchor(window_.get());

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

    figuresLabel_ = new QLabel(window);
    figuresLabel_->setTextFormat(Qt::PlainText);
    makeSecondary(figuresLabel_);
    figuresLabel_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    figuresLabel_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

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
    const QString cancelAllHint = tr("Shift-click to cancel the remaining archives as well.");
    cancelButton_->setToolTip(cancelAllHint);
    cancelButton_->setAccessibleDescription(cancelAllHint);
    // Shown under the figures while other archives wait, so that nobody has
    // to hover to learn it.
    hintLabel_ = new QLabel(cancelAllHint, window);
    hintLabel_->setTextFormat(Qt::PlainText);
    makeSecondary(hintLabel_);
    hintLabel_->setVisible(false);
    cancelButton_->installEventFilter(this);
    connect(cancelButton_, &QPushButton::clicked, this, [this] {
        const Qt::KeyboardModifiers modifiers = clickModifiers_ | QApplication::keyboardModifiers();
        clickModifiers_ = Qt::NoModifier;
        if (modifiers.testFlag(Qt::ShiftModifier)) {
            cancelAll();
        } else {
            cancel();
        }
    });
    auto* cancelAllKey = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_Escape), window);
    connect(cancelAllKey, &QShortcut::activated, this, &ProgressWindowController::cancelAll);

    titleLabel_->setObjectName("titleLabel");
    detailLabel_->setObjectName("detailLabel");
    figuresLabel_->setObjectName("figuresLabel");
    countLabel_->setObjectName("countLabel");
    hintLabel_->setObjectName("hintLabel");
    progressBar_->setObjectName("progressBar");
    cancelButton_->setObjectName("cancelButton");

    auto* progressRow = new QHBoxLayout;
    progressRow->setSpacing(12);
    progressRow->addWidget(progressBar_, 1);
    progressRow->addWidget(cancelButton_, 0);

    auto* detailRow = new QHBoxLayout;
    detailRow->setSpacing(12);
    detailRow->addWidget(detailLabel_, 1);
    detailRow->addWidget(figuresLabel_, 0);
    detailRow->addWidget(countLabel_, 0);

    auto* stack = new QVBoxLayout(window);
    stack->setContentsMargins(20, 16, 20, 16);
    stack->setSpacing(8);
    stack->addWidget(titleLabel_);
    stack->addLayout(progressRow);
    stack->addLayout(detailRow);
    stack->addWidget(hintLabel_);

    fitHeight();
}

void ProgressWindowController::fitHeight() {
    // The width is fixed; the height is what the content needs. The labels
    // never ask for more width, so long texts are shortened instead.
    window_->setFixedSize(windowWidth, window_->layout()->sizeHint().height());
}

void ProgressWindowController::setOnCancel(std::function<void()> onCancel) {
    onCancel_ = std::move(onCancel);
}

void ProgressWindowController::setOnCancelAll(std::function<void()> onCancelAll) {
    onCancelAll_ = std::move(onCancelAll);
}

void ProgressWindowController::begin(const QString& archiveName, std::int64_t position,
                                     std::int64_t total) {
    jobRunning_ = true;
    jobStart_ = clock_();
    titleLabel_->setText(tr("Extracting “%1”").arg(archiveName));
    detailLabel_->clear();
    figuresLabel_->clear();
    countLabel_->setText(total >= 2 ? tr("%1 of %2").arg(position).arg(total) : QString());
    const bool othersWait = position < total;
    if (hintLabel_->isVisibleTo(window_.get()) != othersWait) {
        hintLabel_->setVisible(othersWait);
        window_->layout()->invalidate();
        fitHeight();
    }
    cancelButton_->setEnabled(true);
    // A range of 0..0 is the indeterminate, animated bar.
    progressBar_->setRange(0, 0);

    if (window_->isVisible() || appearanceTimer_->isActive() || waitingBehind_) {
        return;
    }
    appearanceTimer_->start(appearanceDelay, [this] { appear(); });
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
    figuresLabel_->setText(figures(progress));
    if (progressBar_->maximum() == 0) {
        progressBar_->setRange(0, barScale);
    }
    const double fraction =
        static_cast<double>(progress.completedBytes) / static_cast<double>(progress.totalBytes);
    progressBar_->setValue(static_cast<int>(std::min(fraction, 1.0) * barScale));
}

QString ProgressWindowController::figures(const ExtractionProgress& progress) const {
    const std::uint64_t done = std::min(progress.completedBytes, progress.totalBytes);
    const QString bytes =
        tr("%1 of %2")
            .arg(ByteCountFormatter::format(static_cast<std::int64_t>(done)),
                 ByteCountFormatter::format(static_cast<std::int64_t>(progress.totalBytes)));
    const auto elapsed = clock_() - jobStart_;
    if (done == 0 || done == progress.totalBytes || elapsed < estimateAfter) {
        return bytes;
    }
    // The rate so far, taken as the rate to come.
    const double seconds = std::chrono::duration<double>(elapsed).count();
    const double left =
        seconds * static_cast<double>(progress.totalBytes - done) / static_cast<double>(done);
    return tr("%1, %2 left")
        .arg(bytes, durationText(std::chrono::seconds(static_cast<std::int64_t>(left + 0.999))));
}

QString ProgressWindowController::durationText(std::chrono::seconds left) {
    const std::int64_t seconds = std::max<std::int64_t>(left.count(), 1);
    if (seconds < 60) {
        return tr("%1 s").arg(seconds);
    }
    const std::int64_t minutes = (seconds + 59) / 60;
    if (minutes < 60) {
        return tr("%1 min").arg(minutes);
    }
    return tr("%1 h %2 min").arg(minutes / 60).arg(minutes % 60);
}

void ProgressWindowController::jobEnded() {
    jobRunning_ = false;
    appearanceTimer_->stop();
}

void ProgressWindowController::finish() {
    jobRunning_ = false;
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
    // A dialog of the app is never covered: the window waits until it is gone.
    QWidget* modal = QApplication::activeModalWidget();
    if (modal != nullptr && modal->isVisible()) {
        if (waitingBehind_ != modal) {
            if (waitingBehind_) {
                waitingBehind_->removeEventFilter(this);
            }
            waitingBehind_ = modal;
            modal->installEventFilter(this);
        }
        return;
    }
    // The user asked for this job (a double-click, mostly), so the window takes
    // the keyboard focus, Escape included; the window manager still decides
    // by the launch's startup id what a window asked for may take. An open
    // dialog keeps it: the window waited above until it was gone.
    window_->show();
    window_->raise();
    window_->activateWindow();
    DockPresence::refresh();
}

bool ProgressWindowController::eventFilter(QObject* watched, QEvent* event) {
    // The modifiers of the click itself, which the clicked signal does not carry.
    if (watched == cancelButton_ && event->type() == QEvent::MouseButtonRelease) {
        clickModifiers_ = static_cast<QMouseEvent*>(event)->modifiers();
        return false;
    }
    if (watched == waitingBehind_ && event->type() == QEvent::Hide) {
        waitingBehind_->removeEventFilter(this);
        waitingBehind_ = nullptr;
        // After the hide has been handled, so that the dialog no longer counts.
        QTimer::singleShot(0, this, [this] {
            if (jobRunning_ && !window_->isVisible() && !appearanceTimer_->isActive()) {
                appear();
            }
        });
    }
    return false;
}

void ProgressWindowController::cancel() {
    cancelButton_->setEnabled(false);
    detailLabel_->setText(tr("Cancelling…"));
    if (onCancel_) {
        onCancel_();
    }
}

void ProgressWindowController::cancelAll() {
    cancelButton_->setEnabled(false);
    detailLabel_->setText(tr("Cancelling…"));
    countLabel_->clear();
    if (onCancelAll_) {
        onCancelAll_();
    } else if (onCancel_) {
        onCancel_();
    }
}

}  // namespace tovani
