#pragma once
// The progress sheet's state (bar, text, counters) and the texts of the
// end-of-batch report, apart from the widgets that show them.

#include <QString>
#include <QStringList>

#include <cstdint>

struct BatchReport;

// What the progress sheet shows. Main thread only.
class ProgressSheetState {
public:
    // Number of files of the batch (or seen so far while adding) and of files
    // started so far.
    std::int64_t numOfFilesForConversion = 0;
    std::int64_t fileProcessingIndex = 0;
    QString currentProcessingPDFFileName;

    bool visible = false;
    bool indeterminate = false;
    std::int64_t value = 0;
    std::int64_t maximum = 0;
    QString text;
    bool cancelEnabled = true;

    // BeginProgressSheet: determinate bar from 0 to files + 2, or an
    // indeterminate one; empty text, Cancel enabled.
    void begin(bool indeterminateBar);
    // EndProgressSheet: the sheet goes, its text is emptied.
    void end();
    // ChangeProgressStatus: 0, 2, 4, 5 advance; 1 shows "Converting" with no
    // name and advances; 3 counts the next file, shows its name and advances.
    void changeStatus(int code);
    // ChangeProgressStatusWhileAdding: 0 counts one more file seen and
    // advances, 3 counts one more added; then the "Adding" text.
    void changeStatusWhileAdding(int code);
    // CancelConversionButtonAction: the cancel text, Cancel disabled.
    void cancelPressed();
    // Cancel enabled again for the next batch.
    void cancelHandled() { cancelEnabled = true; }
};

// The end-of-batch texts: the headline counts the files written; the detail
// names the files that were not converted (empty when none was lost).
struct ConversionReportText {
    QString status;
    QString failures;
};
ConversionReportText ConversionReportMessages(const BatchReport& report);

// The plural ending of the string table's formats: "s" for 2 or more.
QString PluralSuffix(std::int64_t count);
