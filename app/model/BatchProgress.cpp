#include "app/model/BatchProgress.h"

#include "app/model/BatchConversion.h"
#include "app/model/StringTable.h"

namespace {
// A report of a large batch names this many files, then how many more.
constexpr std::size_t kFailedNamesShown = 20;
}  // namespace

QString PluralSuffix(std::int64_t count) { return count >= 2 ? QStringLiteral("s") : QString(); }

void ProgressSheetState::begin(bool indeterminateBar) {
    indeterminate = indeterminateBar;
    if (!indeterminateBar) {
        value = 0;
        maximum = numOfFilesForConversion + 2;
    }
    text.clear();
    cancelEnabled = true;
    visible = true;
}

void ProgressSheetState::end() {
    visible = false;
    text.clear();
}

void ProgressSheetState::changeStatus(int code) {
    switch (code) {
    case 0:
    case 2:
    case 4:
    case 5:
        break;
    case 1:
        text = LocalizedFormat("Converting", {fileProcessingIndex, numOfFilesForConversion, QString()});
        break;
    case 3:
        ++fileProcessingIndex;
        text = LocalizedFormat("Converting",
                               {fileProcessingIndex, numOfFilesForConversion, currentProcessingPDFFileName});
        break;
    default:
        return;
    }
    ++value;
}

void ProgressSheetState::changeStatusWhileAdding(int code) {
    if (code == 0) {
        ++numOfFilesForConversion;
        ++value;
    } else if (code == 3) {
        ++fileProcessingIndex;
    }
    text = LocalizedFormat("Adding", {fileProcessingIndex, PluralSuffix(fileProcessingIndex),
                                      numOfFilesForConversion, PluralSuffix(numOfFilesForConversion)});
}

void ProgressSheetState::cancelPressed() {
    text = LocalizedString("CancelConversionInProgress");
    cancelEnabled = false;
}

ConversionReportText ConversionReportMessages(const BatchReport& report) {
    ConversionReportText texts;
    texts.status =
        LocalizedFormat("ConversionStatusMessage", {report.convertedCount, PluralSuffix(report.convertedCount)});
    const auto failed = static_cast<std::int64_t>(report.failedNames.size());
    if (failed == 0) return texts;
    QStringList names;
    for (std::size_t i = 0; i < report.failedNames.size() && i < kFailedNamesShown; ++i) {
        names << QString::fromStdString(report.failedNames[i]);
    }
    texts.failures = LocalizedFormat("ConversionFailedMessage", {failed, PluralSuffix(failed), names.join(", ")});
    if (report.failedNames.size() > kFailedNamesShown) {
        const auto more = static_cast<std::int64_t>(report.failedNames.size() - kFailedNamesShown);
        texts.failures += LocalizedFormat("ConversionFailedMoreMessage", {more});
    }
    return texts;
}
