#pragma once

#include <QDialog>

class ProgressSheetState;
class QLabel;
class QProgressBar;
class QPushButton;

// The progress sheet of a batch or an add request: a window-modal dialog on
// the main window with the progress text, the bar and Cancel. It shows a
// ProgressSheetState; the controller owns the state and the Cancel action.
class ProgressSheet : public QDialog {
    Q_OBJECT
public:
    explicit ProgressSheet(QWidget* window);

    // Shows, updates or hides the sheet as the state says.
    void showState(const ProgressSheetState& state);
    // While held, a visible state does not open the sheet (a drag holds the
    // pointer, which a modal sheet would take).
    void hold(bool held) { held_ = held; }

    QLabel* conversionProgressStaticText = nullptr;
    QProgressBar* conversionProgressIndicator = nullptr;
    QPushButton* cancelButton = nullptr;

signals:
    void cancelPressed();

protected:
    // Escape and the window's close button mean Cancel, never a silent close.
    void reject() override;

private:
    bool held_ = false;
};
