#include "AppTestSupport.h"

#include "app/ui/CustomAlert.h"

#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

namespace {

class CustomAlertTest : public ::testing::Test {
protected:
    void SetUp() override {
        TestApplication();
        SetCustomAlertsClosing(false);
    }
    void TearDown() override {
        SetCustomAlertPresentedHook(nullptr);
        SetCustomAlertResponder(nullptr);
        SetCustomAlertsClosing(false);
    }

    // Serves the main thread's events until the future is ready.
    template <class T>
    T Await(std::future<T>& future) {
        while (future.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        return future.get();
    }
};

void ClickWhenShown(const char* buttonName) {
    const QString name = QLatin1String(buttonName);
    SetCustomAlertPresentedHook([name](QDialog& dialog) {
        auto* button = dialog.findChild<QPushButton*>(name);
        ASSERT_NE(button, nullptr) << name.toStdString();
        button->click();
    });
}

TEST_F(CustomAlertTest, MainThreadReturnsTheClickedButtonsCode) {
    ClickWhenShown("defaultButton");
    EXPECT_EQ(RunCustomAlertSheet("Title", "Message", "Yes", "No", "Other", nullptr), 1);
    ClickWhenShown("alternateButton");
    EXPECT_EQ(RunCustomAlertSheet("Title", "Message", "Yes", "No", "Other", nullptr), 0);
    ClickWhenShown("otherButton");
    EXPECT_EQ(RunCustomAlertSheet("Title", "Message", "Yes", "No", "Other", nullptr), -1);
}

TEST_F(CustomAlertTest, WorkerThreadBlocksUntilTheButtonIsPressed) {
    // The main thread serves the question in a nested loop; while the dialog
    // is up (a few loop turns later) the worker must still be waiting.
    std::atomic<bool> returned{false};
    bool returnedWhileShown = true;
    bool visibleWhileShown = false;
    bool hasOtherButton = true;
    SetCustomAlertPresentedHook([&](QDialog& dialog) {
        QPointer<QDialog> shown(&dialog);
        QTimer::singleShot(30, &dialog, [&, shown] {
            returnedWhileShown = returned.load();
            visibleWhileShown = shown->isVisible();
            hasOtherButton = shown->findChild<QPushButton*>("otherButton") != nullptr;
            shown->findChild<QPushButton*>("alternateButton")->click();
        });
    });
    std::promise<int> answer;
    std::future<int> result = answer.get_future();
    std::thread worker([&] {
        answer.set_value(RunCustomAlertSheet("Replace?", "A file exists.", "Replace", "Cancel", QString(), nullptr));
        returned = true;
    });
    EXPECT_EQ(Await(result), 0);
    worker.join();
    EXPECT_FALSE(returnedWhileShown);
    EXPECT_TRUE(visibleWhileShown);
    EXPECT_FALSE(hasOtherButton);
    EXPECT_TRUE(returned.load());
}

TEST_F(CustomAlertTest, WorkerThreadGetsTheSameCodesAsTheMainThread) {
    for (const char* button : {"defaultButton", "otherButton"}) {
        ClickWhenShown(button);
        auto future = std::async(std::launch::async, [] {
            return RunCustomAlertSheet("T", "M", "A", "B", "C", nullptr);
        });
        EXPECT_EQ(Await(future), std::string(button) == "defaultButton" ? 1 : -1);
    }
}

TEST_F(CustomAlertTest, TextsAreShownLiterallyNeverAsMarkup) {
    QString title, message, defaultTitle;
    Qt::TextFormat titleFormat = Qt::AutoText, messageFormat = Qt::AutoText;
    SetCustomAlertPresentedHook([&](QDialog& dialog) {
        auto* titleLabel = dialog.findChild<QLabel*>("titleLabel");
        auto* messageLabel = dialog.findChild<QLabel*>("messageLabel");
        title = titleLabel->text();
        titleFormat = titleLabel->textFormat();
        message = messageLabel->text();
        messageFormat = messageLabel->textFormat();
        auto* button = dialog.findChild<QPushButton*>("defaultButton");
        defaultTitle = button->text();
        button->click();
    });
    const QString markup = "<b>bold</b> 100% %@ %d <a href='x'>link</a>";
    EXPECT_EQ(RunCustomAlertSheet("<i>T</i>", markup, QString(), QString(), QString(), nullptr), 1);
    EXPECT_EQ(title, "<i>T</i>");
    EXPECT_EQ(message, markup);
    EXPECT_EQ(titleFormat, Qt::PlainText);
    EXPECT_EQ(messageFormat, Qt::PlainText);
    EXPECT_EQ(defaultTitle, "OK");

    // Absent title and message show empty texts.
    EXPECT_EQ(RunCustomAlertSheet(QString(), QString(), "Go", QString(), QString(), nullptr), 1);
    EXPECT_EQ(title, "");
    EXPECT_EQ(message, "");
    EXPECT_EQ(defaultTitle, "Go");
}

TEST_F(CustomAlertTest, AttachesToTheGivenWindowAsAWindowModalDialog) {
    QWidget window;
    window.show();
    QWidget* parent = nullptr;
    Qt::WindowModality modality = Qt::NonModal;
    SetCustomAlertPresentedHook([&](QDialog& dialog) {
        parent = dialog.parentWidget();
        modality = dialog.windowModality();
        dialog.findChild<QPushButton*>("defaultButton")->click();
    });
    EXPECT_EQ(RunCustomAlertSheet("T", "M", "OK", QString(), QString(), &window), 1);
    EXPECT_EQ(parent, &window);
    EXPECT_EQ(modality, Qt::WindowModal);
}

TEST_F(CustomAlertTest, WithoutAWindowAttachesToTheActiveWindow) {
    QWidget window;
    window.show();
    window.activateWindow();
    QApplication::setActiveWindow(&window);
    ASSERT_EQ(QApplication::activeWindow(), &window);
    QWidget* parent = nullptr;
    SetCustomAlertPresentedHook([&](QDialog& dialog) {
        parent = dialog.parentWidget();
        dialog.findChild<QPushButton*>("defaultButton")->click();
    });
    EXPECT_EQ(RunCustomAlertSheet("T", "M", "OK", QString(), QString(), nullptr), 1);
    EXPECT_EQ(parent, &window);
}

TEST_F(CustomAlertTest, AccessoryViewIsBorrowedAndGivenBack) {
    QWidget owner;
    auto* layout = new QVBoxLayout(&owner);
    auto* before = new QLabel("before", &owner);
    auto* box = new QCheckBox("Do not show this again", &owner);
    auto* after = new QLabel("after", &owner);
    layout->addWidget(before);
    layout->addWidget(box);
    layout->addWidget(after);

    QWidget* parentWhileShown = nullptr;
    SetCustomAlertPresentedHook([&](QDialog& dialog) {
        parentWhileShown = box->parentWidget();
        box->click();  // the user ticks it
        dialog.findChild<QPushButton*>("defaultButton")->click();
    });
    EXPECT_EQ(RunCustomAlertSheetWithView("Done", "3 files", "OK", QString(), QString(), nullptr, box), 1);
    ASSERT_NE(parentWhileShown, nullptr);
    EXPECT_NE(parentWhileShown, &owner);
    EXPECT_EQ(box->parentWidget(), &owner);
    EXPECT_EQ(layout->indexOf(box), 1);
    EXPECT_TRUE(box->isChecked());
    EXPECT_FALSE(box->isHidden());
}

TEST_F(CustomAlertTest, ParentWindowGoingAwayEndsTheQuestionWithTheDefault) {
    auto* window = new QWidget;
    window->show();
    QPointer<QWidget> watched(window);
    SetCustomAlertPresentedHook([&](QDialog&) { delete window; });
    EXPECT_EQ(RunCustomAlertSheet("T", "M", "A", "B", "C", window), 1);
    EXPECT_TRUE(watched.isNull());
}

TEST_F(CustomAlertTest, WaitBlocksAnotherThreadUntilTheQuestionEnds) {
    CustomAlert alert("T", "M", "A", "B", QString());
    EXPECT_EQ(alert.responseCode(), -1);
    std::atomic<bool> released{false};
    std::thread waiter([&] {
        alert.wait();
        released = true;
    });
    bool releasedWhileShown = true;
    std::int64_t codeWhileShown = 0;
    SetCustomAlertPresentedHook([&](QDialog& dialog) {
        releasedWhileShown = released.load();
        codeWhileShown = alert.responseCode();
        dialog.findChild<QPushButton*>("alternateButton")->click();
    });
    alert.showModalSheet();
    waiter.join();
    EXPECT_FALSE(releasedWhileShown);
    EXPECT_EQ(codeWhileShown, CustomAlert::kWaitingResponse);
    EXPECT_EQ(alert.responseCode(), 0);
    alert.wait();  // already ended: returns at once
}

TEST_F(CustomAlertTest, ResponderAnswersWithoutADialog) {
    int asked = 0;
    SetCustomAlertResponder([&](const CustomAlert& alert) {
        ++asked;
        EXPECT_EQ(alert.title(), "Question");
        return -1;
    });
    EXPECT_EQ(RunCustomAlertSheet("Question", "?", "A", "B", "C", nullptr), -1);
    auto future = std::async(std::launch::async, [] { return RunCustomAlertSheet("Question", "?", "A", "B", "C", nullptr); });
    EXPECT_EQ(Await(future), -1);
    EXPECT_EQ(asked, 2);
}

TEST_F(CustomAlertTest, ClosingApplicationAnswersWithTheDefaultInsteadOfWaiting) {
    // A question already up for a worker is answered when closing begins.
    SetCustomAlertPresentedHook([](QDialog&) { SetCustomAlertsClosing(true); });
    auto waiting = std::async(std::launch::async, [] { return RunCustomAlertSheet("T", "M", "A", "B", "C", nullptr); });
    EXPECT_EQ(Await(waiting), 1);
    // Questions asked while closing are not shown at all.
    bool presented = false;
    SetCustomAlertPresentedHook([&](QDialog&) { presented = true; });
    auto later = std::async(std::launch::async, [] { return RunCustomAlertSheet("T", "M", "A", "B", "C", nullptr); });
    EXPECT_EQ(later.get(), 1);  // returns without the main thread's help
    EXPECT_EQ(RunCustomAlertSheet("T", "M", "A", "B", "C", nullptr), 1);
    QCoreApplication::processEvents();
    EXPECT_FALSE(presented);
}

TEST_F(CustomAlertTest, ClosingEndsAQuestionOfTheMainThread) {
    SetCustomAlertPresentedHook([](QDialog&) { SetCustomAlertsClosing(true); });
    EXPECT_EQ(RunCustomAlertSheet("T", "M", "A", "B", "C", nullptr), 1);
}

TEST_F(CustomAlertTest, QuittingTheEventLoopEndsAnOpenQuestion) {
    // The application's loop quits while a worker's question is up.
    QPointer<QDialog> shown;
    SetCustomAlertPresentedHook([&](QDialog& dialog) {
        shown = &dialog;
        QCoreApplication::exit(0);
    });
    auto waiting = std::async(std::launch::async, [] { return RunCustomAlertSheet("T", "M", "A", "B", "C", nullptr); });
    QCoreApplication::exec();
    EXPECT_EQ(Await(waiting), 1);
}

}  // namespace
