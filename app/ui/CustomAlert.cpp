#include "app/ui/CustomAlert.h"

#include "app/ui/ResourceImages.h"

#include <QApplication>
#include <QBoxLayout>
#include <QCloseEvent>
#include <QDialog>
#include <QEventLoop>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>

namespace {

// ---- Shared state: closing flag, seams, threads waiting for answers ----

struct Handover {
    std::mutex mutex;
    std::condition_variable answered;
    bool done = false;
    int code = kAlertDefaultReturn;
};

std::atomic<bool> gClosing{false};
std::mutex gStateMutex;
std::set<std::shared_ptr<Handover>> gWaiting;
QPointer<QCoreApplication> gWatchedApplication;
std::set<QEventLoop*> gOpenLoops;  // questions shown by the main thread
CustomAlertResponder gResponder;
CustomAlertPresentedHook gPresentedHook;

void Finish(Handover& handover, int code) {
    {
        std::lock_guard lock(handover.mutex);
        if (handover.done) return;
        handover.done = true;
        handover.code = code;
    }
    handover.answered.notify_all();
}

void ReleaseWaitingThreads() {
    std::set<std::shared_ptr<Handover>> waiting;
    {
        std::lock_guard lock(gStateMutex);
        waiting.swap(gWaiting);
    }
    for (const auto& handover : waiting) Finish(*handover, kAlertDefaultReturn);
}

// Once per application object: the end of its event loop closes all questions.
void WatchApplication() {
    QCoreApplication* application = QCoreApplication::instance();
    if (!application) return;
    std::lock_guard lock(gStateMutex);
    if (gWatchedApplication == application) return;
    gWatchedApplication = application;
    QObject::connect(application, &QCoreApplication::aboutToQuit, application, [] { SetCustomAlertsClosing(true); },
                     Qt::DirectConnection);
    QObject::connect(application, &QObject::destroyed, [] { SetCustomAlertsClosing(true); });
}

// Runs a handover's question on the main thread; when the queued call is
// dropped unrun (the application went away), the waiting thread still gets
// the default answer.
struct HandoverGuard {
    explicit HandoverGuard(std::shared_ptr<Handover> h) : handover(std::move(h)) {}
    ~HandoverGuard() { Finish(*handover, kAlertDefaultReturn); }
    std::shared_ptr<Handover> handover;
};

// ---- The dialog ----

class AlertDialog : public QDialog {
public:
    explicit AlertDialog(QWidget* parent) : QDialog(parent) {}

    // Only a button ends the question: Escape and the window's close box do not.
    void reject() override {}

protected:
    void closeEvent(QCloseEvent* event) override { event->ignore(); }
};

QLabel* PlainLabel(const QString& text, const char* name, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

// Where a borrowed view lived, so it can be put back.
class BorrowedView {
public:
    explicit BorrowedView(QWidget* view) : view_(view) {
        if (!view) return;
        parent_ = view->parentWidget();
        // A child is hidden until its parent shows, unless it was hidden on purpose.
        explicitlyHidden_ = view->isHidden() && view->testAttribute(Qt::WA_WState_ExplicitShowHide);
        wasVisible_ = view->isVisible();
        geometry_ = view->geometry();
        if (parent_ && parent_->layout()) findInLayout(parent_->layout());
    }

    void giveBack() {
        if (!view_) return;
        view_->setParent(parent_);
        if (parent_) {
            if (auto* box = qobject_cast<QBoxLayout*>(layout_.data())) {
                box->insertWidget(std::min(boxIndex_, box->count()), view_);
            } else if (auto* grid = qobject_cast<QGridLayout*>(layout_.data())) {
                grid->addWidget(view_, row_, column_, rowSpan_, columnSpan_);
            } else {
                view_->setGeometry(geometry_);
            }
        }
        if (!parent_) view_->setVisible(wasVisible_);
        else view_->setVisible(!explicitlyHidden_);
    }

private:
    bool findInLayout(QLayout* layout) {
        const int index = layout->indexOf(view_);
        if (index >= 0) {
            layout_ = layout;
            boxIndex_ = index;
            if (auto* grid = qobject_cast<QGridLayout*>(layout)) grid->getItemPosition(index, &row_, &column_, &rowSpan_, &columnSpan_);
            return true;
        }
        for (int i = 0; i < layout->count(); ++i) {
            if (QLayout* child = layout->itemAt(i)->layout(); child && findInLayout(child)) return true;
        }
        return false;
    }

    QPointer<QWidget> view_;
    QPointer<QWidget> parent_;
    QPointer<QLayout> layout_;
    bool explicitlyHidden_ = false;
    bool wasVisible_ = false;
    QRect geometry_;
    int boxIndex_ = 0;
    int row_ = 0, column_ = 0, rowSpan_ = 1, columnSpan_ = 1;
};

// Warnings and informational alerts carry the application's icon, as the
// desktop's own alerts do: they are questions and reports of this
// application, not errors. A critical alert shows the error sign.
QIcon IconForStyle(std::uint64_t style, const QWidget* dialog) {
    if (style != 2) {
        QIcon icon = QApplication::windowIcon();
        if (icon.isNull()) icon = ApplicationIcon();
        if (!icon.isNull()) return icon;
    }
    return dialog->style()->standardIcon(style == 2 ? QStyle::SP_MessageBoxCritical : QStyle::SP_MessageBoxInformation,
                                         nullptr, dialog);
}

int RunOnMainThread(const std::shared_ptr<CustomAlert>& alert, bool withView) {
    WatchApplication();
    if (!QCoreApplication::instance() || CustomAlertsClosing()) return kAlertDefaultReturn;
    QThread* mainThread = QCoreApplication::instance()->thread();
    if (QThread::currentThread() == mainThread) {
        withView ? alert->showModalSheetUsingAlert() : alert->showModalSheet();
        return static_cast<int>(alert->responseCode());
    }

    auto handover = std::make_shared<Handover>();
    {
        std::lock_guard lock(gStateMutex);
        gWaiting.insert(handover);
    }
    // Checked again under the lock order above: a close that came in between
    // has already released every registered waiter but this one.
    if (CustomAlertsClosing()) Finish(*handover, kAlertDefaultReturn);
    auto guard = std::make_shared<HandoverGuard>(handover);
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [alert, withView, guard] {
            withView ? alert->showModalSheetUsingAlert() : alert->showModalSheet();
            Finish(*guard->handover, static_cast<int>(alert->responseCode()));
        },
        Qt::QueuedConnection);
    guard.reset();

    std::unique_lock lock(handover->mutex);
    handover->answered.wait(lock, [&] { return handover->done; });
    const int code = handover->code;
    lock.unlock();
    std::lock_guard stateLock(gStateMutex);
    gWaiting.erase(handover);
    return code;
}

}  // namespace

void SetCustomAlertsClosing(bool closing) {
    gClosing.store(closing);
    if (closing) EndOpenCustomAlerts();
}

void EndOpenCustomAlerts() {
    ReleaseWaitingThreads();
    QCoreApplication* application = QCoreApplication::instance();
    if (application && QThread::currentThread() == application->thread()) {
        for (QEventLoop* loop : gOpenLoops) loop->quit();
    }
}

bool CustomAlertsClosing() {
    return gClosing.load() || QCoreApplication::closingDown();
}

void SetCustomAlertResponder(CustomAlertResponder responder) {
    std::lock_guard lock(gStateMutex);
    gResponder = std::move(responder);
}

void SetCustomAlertPresentedHook(CustomAlertPresentedHook hook) {
    std::lock_guard lock(gStateMutex);
    gPresentedHook = std::move(hook);
}

CustomAlert::CustomAlert() = default;

CustomAlert::CustomAlert(const QString& title, const QString& message, const QString& defaultButton,
                         const QString& alterButton, const QString& otherButton)
    : message_(message.isNull() ? QStringLiteral("") : message),
      defaultButton_(defaultButton),
      otherButton_(otherButton),
      alterButton_(alterButton),
      title_(title.isNull() ? QStringLiteral("") : title) {}

void CustomAlert::showModalSheet() {
    run(Presentation::Sheet);
}

void CustomAlert::showModalSheetUsingAlert() {
    if (message_.isNull()) return;
    run(Presentation::SheetWithView);
}

void CustomAlert::showModalAlert() {
    run(Presentation::ApplicationModal);
}

void CustomAlert::monitorAlertDidEnd(std::int64_t returnCode) {
    {
        std::lock_guard lock(endMutex_);
        responseCode_.store(returnCode);
        ended_ = true;
    }
    endCondition_.notify_all();
}

void CustomAlert::wait() {
    std::unique_lock lock(endMutex_);
    endCondition_.wait(lock, [this] { return ended_; });
}

void CustomAlert::run(Presentation presentation) {
    {
        std::lock_guard lock(endMutex_);
        ended_ = false;
    }
    WatchApplication();
    if (CustomAlertsClosing()) {
        monitorAlertDidEnd(kAlertDefaultReturn);
        return;
    }
    CustomAlertResponder responder;
    CustomAlertPresentedHook presentedHook;
    {
        std::lock_guard lock(gStateMutex);
        responder = gResponder;
        presentedHook = gPresentedHook;
    }
    if (responder) {
        monitorAlertDidEnd(responder(*this));
        return;
    }
    // Without a widget application (a headless tool) nobody can answer.
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
        monitorAlertDidEnd(kAlertDefaultReturn);
        return;
    }

    QWidget* parent = presentation == Presentation::ApplicationModal ? nullptr : window_;
    if (!parent && presentation != Presentation::ApplicationModal) parent = QApplication::activeWindow();
    // On the heap and watched: the parent window may go away while the
    // question is up, taking the dialog with it.
    QPointer<AlertDialog> dialog = new AlertDialog(parent ? parent->window() : nullptr);
    dialog->setObjectName(QStringLiteral("customAlert"));
    dialog->setWindowTitle(title_.isNull() ? QString() : title_);
    dialog->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);

    auto* layout = new QHBoxLayout(dialog);
    auto* icon = new QLabel(dialog);
    // The application's icon is shown larger than the style's signs, so its
    // picture can be made out.
    const int styleIconSize = dialog->style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, dialog);
    const int iconSize = alertStyle_ == 2 ? styleIconSize : std::max(styleIconSize, 48);
    icon->setPixmap(IconForStyle(alertStyle_, dialog).pixmap(iconSize));
    icon->setObjectName(QStringLiteral("iconLabel"));
    icon->setAlignment(Qt::AlignTop);
    layout->addWidget(icon);
    auto* column = new QVBoxLayout;
    layout->addLayout(column, 1);

    QLabel* titleLabel = PlainLabel(title_, "titleLabel", dialog);
    QFont headline = titleLabel->font();
    headline.setBold(true);
    titleLabel->setFont(headline);
    column->addWidget(titleLabel);
    column->addWidget(PlainLabel(message_, "messageLabel", dialog));

    BorrowedView borrowed(presentation == Presentation::SheetWithView ? view_ : nullptr);
    if (presentation == Presentation::SheetWithView && view_) {
        column->addWidget(view_);
        view_->show();
    }

    // Other button on the left; alternate, then default on the right.
    auto* buttons = new QHBoxLayout;
    column->addSpacing(8);
    column->addLayout(buttons);
    AlertDialog* shownDialog = dialog;
    auto addButton = [&](const QString& text, const char* name, int code) {
        auto* button = new QPushButton(text, shownDialog);
        button->setObjectName(QLatin1String(name));
        QObject::connect(button, &QPushButton::clicked, shownDialog, [shownDialog, code] { shownDialog->done(code); });
        buttons->addWidget(button);
        return button;
    };
    if (!otherButton_.isNull()) addButton(otherButton_, "otherButton", kAlertOtherReturn);
    buttons->addStretch(1);
    if (!alterButton_.isNull()) addButton(alterButton_, "alternateButton", kAlertAlternateReturn);
    QPushButton* defaultButton =
        addButton(defaultButton_.isNull() ? QStringLiteral("OK") : defaultButton_, "defaultButton", kAlertDefaultReturn);
    defaultButton->setDefault(true);
    defaultButton->setFocus();

    responseCode_.store(kWaitingResponse);
    QEventLoop loop;
    QObject::connect(dialog, &QDialog::finished, &loop, [this, &loop](int code) {
        monitorAlertDidEnd(code);
        loop.quit();
    });
    QObject::connect(dialog, &QObject::destroyed, &loop, &QEventLoop::quit);
    dialog->show();
    if (presentedHook) {
        QTimer::singleShot(0, dialog, [dialog, presentedHook] {
            if (dialog) presentedHook(*dialog);
        });
    }
    if (responseCode_.load() == kWaitingResponse && dialog) {
        gOpenLoops.insert(&loop);
        loop.exec();
        gOpenLoops.erase(&loop);
    }
    // A loop that ended without a button press was ended by the application
    // closing (or the dialog's window going away): the question gets its
    // default answer.
    if (responseCode_.load() == kWaitingResponse) monitorAlertDidEnd(kAlertDefaultReturn);
    if (dialog) dialog->hide();
    borrowed.giveBack();
    delete dialog.data();
}

int RunCustomAlertSheet(const QString& title, const QString& message, const QString& defaultButton,
                        const QString& alterButton, const QString& otherButton, QWidget* window) {
    auto alert = std::make_shared<CustomAlert>(title, message, defaultButton, alterButton, otherButton);
    if (window) alert->setWindow(window);
    return RunOnMainThread(alert, false);
}

int RunCustomAlertSheetWithView(const QString& title, const QString& message, const QString& defaultButton,
                                const QString& alterButton, const QString& otherButton, QWidget* window,
                                QWidget* view) {
    auto alert = std::make_shared<CustomAlert>(title, message, defaultButton, alterButton, otherButton);
    if (window) alert->setWindow(window);
    if (view) alert->setView(view);
    return RunOnMainThread(alert, true);
}
