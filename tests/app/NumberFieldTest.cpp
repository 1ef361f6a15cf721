#include "AppTestSupport.h"

#include "app/model/NumberFieldFilter.h"
#include "app/ui/NumberFields.h"

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace {

using K = NumberFieldKind;

QString Filter(K kind, const char* text) {
    return FilterNumberFieldText(kind, QString::fromUtf8(text));
}

QString End(K kind, const char* text) {
    return EndEditingNumberFieldText(kind, QString::fromUtf8(text));
}

TEST(NumberFieldFilter, TableNamesSixteenKindsWithTheirBounds) {
    for (int i = 0; i < kNumberFieldKindCount; ++i) {
        EXPECT_EQ(static_cast<int>(NumberFieldSpecFor(static_cast<K>(i)).kind), i);
    }
    EXPECT_STREQ(NumberFieldSpecFor(K::FileSize).className, "FileSizeNumberField");
    EXPECT_EQ(NumberFieldSpecFor(K::FileSize).lowerBound, 0.5);
    EXPECT_EQ(NumberFieldSpecFor(K::ShadowXOffset).lowerBound, -5000);
    EXPECT_EQ(NumberFieldSpecFor(K::Scale).upperBound, 6400.0);
}

TEST(NumberFieldFilter, CleanNumbersStandAsTypedEvenBelowTheBound) {
    EXPECT_EQ(Filter(K::Number, "12.5"), "12.5");
    EXPECT_EQ(Filter(K::Number, " 12.5 "), " 12.5 ");
    EXPECT_EQ(Filter(K::Number, "-3"), "-3");
    EXPECT_EQ(Filter(K::Number, "1e3"), "1e3");
    EXPECT_EQ(Filter(K::ZeroCount, "-4"), "-4");
    EXPECT_EQ(Filter(K::PageCount, "0"), "0");
    EXPECT_EQ(Filter(K::FileSize, "0.2"), "0.2");
    EXPECT_EQ(Filter(K::Resolution, "300"), "300");
    EXPECT_EQ(Filter(K::ShadowXOffset, "-6000"), "-6000");
    EXPECT_EQ(Filter(K::CharSpace, ".5"), ".5");
    EXPECT_EQ(Filter(K::StartDigit, "2147483647"), "2147483647");
    // A 32-bit field's overflow is still a clean number.
    EXPECT_EQ(Filter(K::WholeNumber, "99999999999"), "99999999999");
}

TEST(NumberFieldFilter, EmptyTextStands) {
    for (int i = 0; i < kNumberFieldKindCount; ++i) EXPECT_EQ(Filter(static_cast<K>(i), ""), "");
}

TEST(NumberFieldFilter, UncleanTextBecomesItsLeadingNumberRaisedToTheBound) {
    // Letters after a number are dropped; letters alone give the bound.
    EXPECT_EQ(Filter(K::FontSize, "12abc"), "12");
    EXPECT_EQ(Filter(K::FontSize, "abc"), "1");
    EXPECT_EQ(Filter(K::FontSize, "0x"), "1");
    EXPECT_EQ(Filter(K::WholeNumber, "7 7"), "7");
    EXPECT_EQ(Filter(K::WholeNumber, "-"), "0");
    EXPECT_EQ(Filter(K::Number, "-"), "0");
    EXPECT_EQ(Filter(K::Number, "2.5cm"), "2.5");
    EXPECT_EQ(Filter(K::Number, "-2.5cm"), "0");
    EXPECT_EQ(Filter(K::ZeroCount, "3,"), "3");
    EXPECT_EQ(Filter(K::StartDigit, "1.25x"), "1.25");
    EXPECT_EQ(Filter(K::PageCount, "x"), "1");
    EXPECT_EQ(Filter(K::FileSize, "0.2MB"), "0.5");
    EXPECT_EQ(Filter(K::FileSize, "1.5MB"), "1.5");
    EXPECT_EQ(Filter(K::Resolution, "72 dpi"), "72");
    EXPECT_EQ(Filter(K::Resolution, "0dpi"), "1");
    EXPECT_EQ(Filter(K::RotationAngle, "45°"), "45");
    EXPECT_EQ(Filter(K::ShadowBlur, "80%"), "80");
    EXPECT_EQ(Filter(K::CharSpace, "1.5pt"), "1.5");
    EXPECT_EQ(Filter(K::PDFScale, "x"), "1");
    EXPECT_EQ(Filter(K::PDFScale, " 50"), "50");  // its scanner skips "%", not spaces
    EXPECT_EQ(Filter(K::Number, "   "), "0");
}

TEST(NumberFieldFilter, NoInfinityNanOrHexSlipsThrough) {
    EXPECT_EQ(Filter(K::Number, "inf"), "0");
    EXPECT_EQ(Filter(K::Number, "nan"), "0");
    EXPECT_EQ(Filter(K::Number, "0x1p3"), "0");
    EXPECT_EQ(Filter(K::CharSpace, "infinity"), "0");
    EXPECT_EQ(Filter(K::FileSize, "NaN"), "0.5");
    // Huge exponents saturate to a finite number that reads back cleanly.
    const QString huge = Filter(K::Number, "1e999x");
    EXPECT_FALSE(huge.contains("inf"));
    EXPECT_EQ(Filter(K::Number, huge.toUtf8().constData()), huge);
    EXPECT_EQ(Filter(K::Number, "1e-999x"), "0");
}

TEST(NumberFieldFilter, ShadowOffsetsLetALoneMinusStand) {
    EXPECT_EQ(Filter(K::ShadowXOffset, "-"), "-");
    EXPECT_EQ(Filter(K::ShadowYOffset, "-"), "-");
    EXPECT_EQ(Filter(K::ShadowYOffset, "-12"), "-12");
    EXPECT_EQ(Filter(K::ShadowXOffset, "--"), "0");
    EXPECT_EQ(Filter(K::ShadowXOffset, "-7000px"), "-5000");
    EXPECT_EQ(End(K::ShadowXOffset, "-7000"), "-5000");
    EXPECT_EQ(End(K::ShadowYOffset, "-4999"), "-4999");
}

TEST(NumberFieldFilter, ScaleComboBoxSkipsPercentAndCapsAt6400) {
    EXPECT_EQ(Filter(K::Scale, "7000"), "6400");
    EXPECT_EQ(Filter(K::Scale, "6400"), "6400");
    EXPECT_EQ(Filter(K::Scale, "6401%"), "6400");
    EXPECT_EQ(Filter(K::Scale, "0%"), "0%");
    EXPECT_EQ(Filter(K::Scale, "%50%"), "%50%");
    EXPECT_EQ(Filter(K::Scale, "abc"), "1");
    EXPECT_EQ(Filter(K::Scale, "9000x"), "6400");
    EXPECT_EQ(End(K::Scale, "0"), "0");  // no change at the end of editing
    EXPECT_EQ(Filter(K::PDFScale, "150%"), "150%");
}

TEST(NumberFieldFilter, EndOfEditingRaisesToTheBound) {
    EXPECT_EQ(End(K::ZeroCount, "-4"), "0");
    EXPECT_EQ(End(K::ZeroCount, "4"), "4");
    EXPECT_EQ(End(K::FileSize, "0.2"), "0.5");
    EXPECT_EQ(End(K::FileSize, "0.75"), "0.75");
    EXPECT_EQ(End(K::PageCount, "0"), "1");
    EXPECT_EQ(End(K::PageCount, ""), "1");
    EXPECT_EQ(End(K::Number, ""), "");  // 0 is not below 0
    EXPECT_EQ(End(K::Number, "-0.5"), "0");
    EXPECT_EQ(End(K::WholeNumber, "-1"), "0");
    EXPECT_EQ(End(K::StartDigit, "-1.5"), "0");
    EXPECT_EQ(End(K::Resolution, "0"), "1");
    EXPECT_EQ(End(K::FontSize, "-3"), "1");
    EXPECT_EQ(End(K::RotationAngle, "-90"), "0");
    EXPECT_EQ(End(K::ShadowBlur, "-1"), "0");
    EXPECT_EQ(End(K::PDFScale, "0%"), "1");
    EXPECT_EQ(End(K::CharSpace, "-0.1"), "0");
    EXPECT_EQ(End(K::PageRange, "1-"), "1-");
}

TEST(NumberFieldFilter, PageRangeKeepsPageListCharacters) {
    EXPECT_EQ(Filter(K::PageRange, "1,,"), "1,");
    EXPECT_EQ(Filter(K::PageRange, "1--"), "1-");
    EXPECT_EQ(Filter(K::PageRange, "1-,"), "1-");
    EXPECT_EQ(Filter(K::PageRange, "1,-"), "1,");
    EXPECT_EQ(Filter(K::PageRange, "a"), "");
    EXPECT_EQ(Filter(K::PageRange, "-"), "");
    EXPECT_EQ(Filter(K::PageRange, ","), "");
    EXPECT_EQ(Filter(K::PageRange, "7"), "7");
    EXPECT_EQ(Filter(K::PageRange, "1-3x"), "1-3");
    EXPECT_EQ(Filter(K::PageRange, "  2,4-6"), "2,4-6");
    EXPECT_EQ(Filter(K::PageRange, "2 4"), "2");
}

TEST(NumberFields, WidgetsCorrectWhatTheUserTypesAndTellTheirOwner) {
    TestApplication();
    FontSizeNumberField field;
    QSignalSpy changed(&field, &KSMNumberTextField::controlTextDidChange);
    QTest::keyClicks(&field, "12ab");
    EXPECT_EQ(field.text(), "12");
    EXPECT_EQ(changed.count(), 4);

    ShadowXOffsetNumberField offset;
    QTest::keyClicks(&offset, "-");
    EXPECT_EQ(offset.text(), "-");
    QTest::keyClicks(&offset, "9999");
    EXPECT_EQ(offset.text(), "-9999");
    QSignalSpy ended(&offset, &KSMNumberTextField::controlTextDidEndEditing);
    QTest::keyClick(&offset, Qt::Key_Return);
    EXPECT_EQ(offset.text(), "-5000");
    EXPECT_EQ(ended.count(), 1);

    // Text set by code is not filtered.
    field.setText("abc");
    EXPECT_EQ(field.text(), "abc");

    ScaleComboBox scale;
    QTest::keyClicks(scale.lineEdit(), "7000");
    EXPECT_EQ(scale.currentText(), "6400");
    ResolutionComboBox resolution;
    QTest::keyClicks(resolution.lineEdit(), "x");
    EXPECT_EQ(resolution.currentText(), "1");
    EXPECT_STREQ(resolution.metaObject()->className(), "ResolutionComboBox");
}

}  // namespace
