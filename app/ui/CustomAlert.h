#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

class QDialog;

// Button codes of every question.
enum CustomAlertButton : int {
    kAlertDefaultReturn = 1,
    kAlertAlternateReturn = 0,
    kAlertOtherReturn = -1,
};

// One yes/no question, shown as a window-modal dialog on a window and
// answered synchronously: the run methods return only when a button has been
// pressed. Texts are shown as plain text, never as markup. A null QString
// stands for an absent text: an absent title or message shows nothing, an
// absent default button gets the usual "OK", absent alternate and other
// buttons are not shown.
class CustomAlert {
public:
    static constexpr std::int64_t kWaitingResponse = 0x7fffffff;

    CustomAlert();
    CustomAlert(const QString& title, const QString& message, const QString& defaultButton,
                const QString& alterButton, const QString& otherButton);

    CustomAlert(const CustomAlert&) = delete;
    CustomAlert& operator=(const CustomAlert&) = delete;

    // Main thread only. They show the question (with the accessory view for
    // the second) and wait in a nested event loop for a button; the code is
    // left in responseCode(). The second shows nothing when the message is
    // absent. showModalAlert is the application-modal variant.
    void showModalSheet();
    void showModalSheetUsingAlert();
    void showModalAlert();

    // The end of a question: stores the pressed button's code and wakes a
    // thread blocked in wait().
    void monitorAlertDidEnd(std::int64_t returnCode);
    // Blocks until the question has ended (at once when it already has): for
    // a caller on another thread than the one that shows it.
    void wait();

    QString message() const { return message_; }
    void setMessage(const QString& message) { message_ = message; }
    QString defaultButton() const { return defaultButton_; }
    void setDefaultButton(const QString& title) { defaultButton_ = title; }
    QString otherButton() const { return otherButton_; }
    void setOtherButton(const QString& title) { otherButton_ = title; }
    QString alterButton() const { return alterButton_; }
    void setAlterButton(const QString& title) { alterButton_ = title; }
    QString title() const { return title_; }
    void setTitle(const QString& title) { title_ = title; }
    std::uint64_t alertStyle() const { return alertStyle_; }
    void setAlertStyle(std::uint64_t style) { alertStyle_ = style; }
    QWidget* window() const { return window_; }
    void setWindow(QWidget* window) { window_ = window; }
    QWidget* view() const { return view_; }
    void setView(QWidget* view) { view_ = view; }
    std::int64_t responseCode() const { return responseCode_.load(); }
    void setResponseCode(std::int64_t code) { responseCode_.store(code); }

private:
    enum class Presentation { Sheet, SheetWithView, ApplicationModal };
    void run(Presentation presentation);

    QString message_;
    QString defaultButton_;
    QString otherButton_;
    QString alterButton_;
    QString title_;
    std::uint64_t alertStyle_ = 0;
    QWidget* window_ = nullptr;
    std::atomic<std::int64_t> responseCode_{-1};
    QWidget* view_ = nullptr;
    std::mutex endMutex_;
    std::condition_variable endCondition_;
    bool ended_ = false;
};

// Asks a question from any thread and returns the pressed button's code
// (1 default, 0 alternate, -1 other). A worker thread blocks until the main
// thread has the answer. With no window the dialog attaches to the active
// window. While the application is closing the default code is returned at
// once, and questions still open are answered with it.
int RunCustomAlertSheet(const QString& title, const QString& message, const QString& defaultButton,
                        const QString& alterButton, const QString& otherButton, QWidget* window);

// The same with an accessory view (a check box, say) shown in the dialog. The
// view is borrowed for the call and given back to its previous parent (and
// place in that parent's box or grid layout) before the function returns.
int RunCustomAlertSheetWithView(const QString& title, const QString& message, const QString& defaultButton,
                                const QString& alterButton, const QString& otherButton, QWidget* window,
                                QWidget* view);

// The application is closing (or closes no more): questions get the default
// code without being shown. Set automatically when the application's event
// loop ends.
void SetCustomAlertsClosing(bool closing);
bool CustomAlertsClosing();
// Ends every question that is open now with its default code: threads
// waiting for an answer get it at once, and the main thread's questions end
// when control returns to their event loops. Later questions are asked as
// usual. Main thread.
void EndOpenCustomAlerts();

// Seams for tests, used on the main thread. A responder answers every
// question without showing it; a presented hook sees each dialog once it is
// on screen (its buttons are named "defaultButton", "alternateButton" and
// "otherButton", its labels "titleLabel" and "messageLabel").
using CustomAlertResponder = std::function<int(const CustomAlert&)>;
void SetCustomAlertResponder(CustomAlertResponder responder);
using CustomAlertPresentedHook = std::function<void(QDialog&)>;
void SetCustomAlertPresentedHook(CustomAlertPresentedHook hook);
