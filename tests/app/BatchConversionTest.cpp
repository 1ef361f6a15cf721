// The batch driver over real files: the per-file sequence, progress codes,
// cancel, dates, optimisation of JPEG and PNG output, the report.
// The fixtures include GLib through libvips: before any Qt header.
#include "engine/ConverterTestSupport.h"

#include "app/model/BatchConversion.h"
#include "app/model/BatchProgress.h"
#include "app/model/StringTable.h"
#include "common/KSMUtil.h"
#include "engine/ImageTypes.h"
#include "platform/FileManager.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using convtest::ScratchDir;
using namespace std::chrono_literals;

// Naming without a rename pattern: the source's name, made unique.
BatchNaming PlainNaming() {
    BatchNaming naming;
    naming.folder = [](const fs::path&, const fs::path& destination, const fs::path&) { return destination; };
    naming.file = [](const fs::path& source, const fs::path& folder, std::int64_t, std::int32_t type) {
        return GetUniqueFileURL(folder, source.stem().string(), GetImageExtensionForType(type), false);
    };
    return naming;
}

class BatchConversionTest : public ::testing::Test {
protected:
    void SetUp() override {
        plat::Initialize();
        StringTable::set({{"Converting", "Converting %ld of %ld %@"},
                          {"ConversionStatusMessage", "%ld file%@ converted."},
                          {"ConversionFailedMessage", "%ld file%@ could not be converted: %@"},
                          {"ConversionFailedMoreMessage", " and %ld more"},
                          {"Adding", "Added %ld file%@ of %ld file%@"}});
        fs::create_directories(dir / "in");
        fs::create_directories(dir / "out");
    }

    fs::path Photo(const std::string& name, const std::string& uti = "public.jpeg", int w = 64, int h = 48) {
        const fs::path path = dir / "in" / name;
        EXPECT_TRUE(convtest::WriteImage(path, convtest::MarkedImage(w, h, 8), uti));
        return path;
    }

    BatchJob Job(std::vector<fs::path> sources, std::int32_t outputType = kImageTypeJPEG) {
        BatchJob job;
        for (const auto& source : sources) job.rows.push_back({source, {}, 0.0, 0});
        job.destination = dir / "out";
        job.record.options.outputType = outputType;
        job.record.options.quality = 0.8;
        job.record.resize = {0, 1, 0, 0, 0, 100.0, 100.0, 1, 2};
        job.naming = PlainNaming();
        return job;
    }

    // A stand-in optimiser that logs its arguments and leaves the file alone.
    void FakeTools() {
        const fs::path script = dir / "fake-tool";
        std::ofstream(script) << "#!/bin/sh\necho \"$0 $*\" >> '" << (dir / "tool.log").string() << "'\nexit 0\n";
        fs::permissions(script, fs::perms::owner_all);
        ::setenv("VANTRELL_TOOL_JPEGOPTIM", script.c_str(), 1);
        ::setenv("VANTRELL_TOOL_PNGCRUSH", script.c_str(), 1);
    }
    void TearDown() override {
        ::unsetenv("VANTRELL_TOOL_JPEGOPTIM");
        ::unsetenv("VANTRELL_TOOL_PNGCRUSH");
    }
    std::string ToolLog() {
        std::ifstream in(dir / "tool.log");
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    ScratchDir dir;
};

TEST_F(BatchConversionTest, MissingRowIsSkippedAndTheBarEndsOneShort) {
    const auto a = Photo("a.jpg"), b = Photo("b.jpg"), c = Photo("c.jpg");
    fs::remove(b);
    BatchConversion batch(Job({a, b, c}));
    ProgressSheetState sheet;
    sheet.numOfFilesForConversion = 3;
    sheet.begin(false);
    std::vector<int> codes;
    const BatchReport report = batch.run([&](int code, const std::string& name) {
        codes.push_back(code);
        sheet.currentProcessingPDFFileName = QString::fromStdString(name);
        sheet.changeStatus(code);
    });
    EXPECT_EQ(codes, (std::vector<int>{1, 3, 3, 5}));
    EXPECT_EQ(sheet.maximum, 5);
    EXPECT_EQ(sheet.value, 4);
    EXPECT_EQ(sheet.fileProcessingIndex, 2);
    EXPECT_EQ(report.rowCount, 3);
    EXPECT_EQ(report.convertedCount, 2);
    EXPECT_EQ(report.failedNames, std::vector<std::string>{"b.jpg"});
    EXPECT_FALSE(report.cancelled);
    ASSERT_EQ(report.outputs.size(), 2u);
    EXPECT_EQ(report.outputs[0].filename(), "a.jpg");
    EXPECT_EQ(report.outputs[1].filename(), "c.jpg");
    EXPECT_EQ(convtest::Decode(report.outputs[1]).width, 64);
}

TEST_F(BatchConversionTest, ProgressCodesMoveTheBarAndText) {
    struct Step {
        int code;
        std::int64_t value;
        std::int64_t index;
        const char* text;
    };
    const Step steps[] = {
        {1, 1, 0, "Converting 0 of 2 "}, {3, 2, 1, "Converting 1 of 2 x.png"}, {0, 3, 1, "Converting 1 of 2 x.png"},
        {7, 3, 1, "Converting 1 of 2 x.png"}, {3, 4, 2, "Converting 2 of 2 x.png"}, {5, 5, 2, "Converting 2 of 2 x.png"},
    };
    ProgressSheetState sheet;
    sheet.numOfFilesForConversion = 2;
    sheet.currentProcessingPDFFileName = "x.png";
    sheet.begin(false);
    EXPECT_TRUE(sheet.visible);
    EXPECT_EQ(sheet.maximum, 4);
    for (const Step& step : steps) {
        sheet.changeStatus(step.code);
        EXPECT_EQ(sheet.value, step.value) << step.code;
        EXPECT_EQ(sheet.fileProcessingIndex, step.index) << step.code;
        EXPECT_EQ(sheet.text, step.text) << step.code;
    }
    sheet.cancelPressed();
    EXPECT_FALSE(sheet.cancelEnabled);
    sheet.end();
    EXPECT_FALSE(sheet.visible);
    EXPECT_TRUE(sheet.text.isEmpty());

    ProgressSheetState adding;
    adding.begin(true);
    adding.changeStatusWhileAdding(0);
    adding.changeStatusWhileAdding(0);
    adding.changeStatusWhileAdding(3);
    EXPECT_EQ(adding.text, "Added 1 file of 2 files");
}

TEST_F(BatchConversionTest, CancelAfterTheSecondFileFinishesIt) {
    std::vector<fs::path> sources;
    for (int i = 1; i <= 5; ++i) sources.push_back(Photo("p" + std::to_string(i) + ".jpg"));
    BatchConversion batch(Job(sources));
    int files = 0;
    std::vector<int> codes;
    const BatchReport report = batch.run([&](int code, const std::string&) {
        codes.push_back(code);
        if (code == kProgressNextFile && ++files == 2) batch.cancel();
    });
    EXPECT_TRUE(report.cancelled);
    EXPECT_EQ(report.convertedCount, 2);
    EXPECT_EQ(codes, (std::vector<int>{1, 3, 3, 5}));
    EXPECT_TRUE(fs::exists(dir / "out" / "p2.jpg"));
    EXPECT_FALSE(fs::exists(dir / "out" / "p3.jpg"));
}

TEST_F(BatchConversionTest, DatesCarriedOverByTheBoxes) {
    const auto source = Photo("old.png", "public.png");
    const auto old = std::chrono::system_clock::now() - 24h * 3650;
    plat::FileAttributes oldDates;
    oldDates.modificationDate = old;
    ASSERT_TRUE(plat::FileManager::setAttributes(source, oldDates));
    struct Case {
        bool keepCreation, keepModification;
        int optimise;
        bool old;
    };
    const Case cases[] = {
        {true, true, 0, true},   {true, true, kOptimisePNG, true}, {true, false, 0, false},
        {false, true, 0, false}, {false, false, kOptimisePNG, false},
    };
    for (const Case& c : cases) {
        fs::remove_all(dir / "out");
        fs::create_directories(dir / "out");
        BatchJob job = Job({source}, kImageTypePNG);
        job.keepCreationDate = c.keepCreation;
        job.keepModificationDate = c.keepModification;
        job.optimisationSelection = c.optimise;
        const BatchReport report = BatchConversion(std::move(job)).run();
        ASSERT_EQ(report.outputs.size(), 1u);
        const auto dates = plat::FileManager::attributesOfItem(report.outputs[0]);
        ASSERT_TRUE(dates && dates->modificationDate);
        const auto age = std::chrono::system_clock::now() - *dates->modificationDate;
        if (c.old) {
            EXPECT_LT(std::chrono::abs(*dates->modificationDate - old), 2s) << c.keepCreation << c.optimise;
        } else {
            EXPECT_LT(age, 1h) << c.keepCreation << c.keepModification << c.optimise;
        }
    }
    EXPECT_FALSE(GetFileAttributes(source, false, true));
    EXPECT_FALSE(GetFileAttributes(dir / "in" / "none.png", true, true));
}

TEST_F(BatchConversionTest, RealOptimisersShrinkJpegAndPngLosslessly) {
    const auto jpeg = Photo("photo.jpg", "public.jpeg", 320, 240);
    const auto png = Photo("shot.png", "public.png", 320, 240);
    auto convert = [&](const fs::path& source, std::int32_t type, int selection, const std::string& folder) {
        BatchJob job = Job({source}, type);
        job.destination = dir / folder;
        fs::create_directories(job.destination);
        job.optimisationSelection = selection;
        const BatchReport report = BatchConversion(std::move(job)).run();
        EXPECT_EQ(report.convertedCount, 1);
        return report.outputs.empty() ? fs::path() : report.outputs[0];
    };
    for (const auto& [source, type, bit] : {std::tuple{jpeg, kImageTypeJPEG, int(kOptimiseJPEG)},
                                            std::tuple{png, kImageTypePNG, int(kOptimisePNG)}}) {
        const fs::path plain = convert(source, type, 0, "plain");
        const fs::path optimised = convert(source, type, bit | 0, "optimised");
        const fs::path otherBit = convert(source, type, (kOptimiseJPEG | kOptimisePNG) & ~bit, "other");
        EXPECT_LE(fs::file_size(optimised), fs::file_size(plain)) << source;
        EXPECT_EQ(fs::file_size(otherBit), fs::file_size(plain)) << source;
        EXPECT_EQ(convtest::Decode(optimised).rgba, convtest::Decode(plain).rgba) << source;
    }
    // pngcrush always finds something in the encoder's PNG.
    EXPECT_LT(fs::file_size(dir / "optimised" / "shot.png"), fs::file_size(dir / "plain" / "shot.png"));
}

TEST_F(BatchConversionTest, OutputTypeNamesTheFileAndPicksTheOptimiser) {
    FakeTools();
    const auto png = Photo("keep.png", "public.png");
    const auto webp = Photo("web.webp", "org.webmproject.webp");
    const auto tiffOut = Photo("to-tiff.jpg");
    EXPECT_EQ(ResolveOutputType(kImageTypeSource, png), kImageTypePNG);
    EXPECT_EQ(ResolveOutputType(kImageTypeTIFF, png), kImageTypeTIFF);

    BatchJob job = Job({png, webp}, kImageTypeSource);
    job.optimisationSelection = kOptimiseJPEG | kOptimisePNG;
    const BatchReport report = BatchConversion(std::move(job)).run();
    ASSERT_EQ(report.outputs.size(), 2u);
    EXPECT_EQ(report.outputs[0].filename(), "keep.png");
    EXPECT_EQ(convtest::Decode(report.outputs[0]).type, "public.png");
    // A source whose type is not recognised comes out as JPEG, named so.
    EXPECT_EQ(report.outputs[1].extension(), "." + GetImageExtensionForType(kImageTypeJPEG));
    EXPECT_EQ(convtest::Decode(report.outputs[1]).type, "public.jpeg");
    const std::string log = ToolLog();
    EXPECT_NE(log.find(" -try10 -q -reduce -- " + report.outputs[0].string()), std::string::npos) << log;
    EXPECT_NE(log.find(" --strip-all -q -- "), std::string::npos) << log;

    // TIFF output: no optimiser, whatever the selection.
    fs::remove(dir / "tool.log");
    BatchJob tiff = Job({tiffOut}, kImageTypeTIFF);
    tiff.optimisationSelection = kOptimiseJPEG | kOptimisePNG;
    EXPECT_EQ(BatchConversion(std::move(tiff)).run().convertedCount, 1);
    EXPECT_EQ(ToolLog(), "");
}

TEST_F(BatchConversionTest, FailedConversionIsNamedAndNotOptimised) {
    FakeTools();
    const auto good = Photo("good.jpg");
    const fs::path broken = dir / "in" / "broken.jpg";
    std::ofstream(broken) << "not an image at all";
    BatchJob job = Job({good, broken, fs::path()});
    job.optimisationSelection = kOptimiseJPEG;
    const BatchReport report = BatchConversion(std::move(job)).run();
    EXPECT_EQ(report.rowCount, 3);
    EXPECT_EQ(report.convertedCount, 1);
    EXPECT_EQ(report.failedNames, std::vector<std::string>{"broken.jpg"});
    EXPECT_FALSE(fs::exists(dir / "out" / "broken.jpg"));
    // One optimiser run: for the written file only.
    const std::string log = ToolLog();
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;

    const ConversionReportText texts = ConversionReportMessages(report);
    EXPECT_EQ(texts.status, "1 file converted.");
    EXPECT_EQ(texts.failures, "1 file could not be converted: broken.jpg");
    BatchReport many;
    many.convertedCount = 3;
    for (int i = 0; i < 22; ++i) many.failedNames.push_back("f" + std::to_string(i));
    const ConversionReportText manyTexts = ConversionReportMessages(many);
    EXPECT_EQ(manyTexts.status, "3 files converted.");
    EXPECT_TRUE(manyTexts.failures.startsWith("22 files could not be converted: f0, f1,"));
    EXPECT_TRUE(manyTexts.failures.endsWith("f19 and 2 more"));
}

TEST_F(BatchConversionTest, PreviewRunReportsNothingAndNeverOptimises) {
    FakeTools();
    const auto source = Photo("look.jpg");
    std::ofstream(dir / "out" / "look.jpg") << "an older preview";
    BatchJob job = Job({source});
    job.preview = true;
    job.optimisationSelection = kOptimiseJPEG;
    // Preview naming: the same name every time, replaced.
    job.naming.file = [](const fs::path& s, const fs::path& folder, std::int64_t, std::int32_t type) {
        return folder / (s.stem().string() + "." + GetImageExtensionForType(type));
    };
    int calls = 0;
    const BatchReport report = BatchConversion(std::move(job)).run([&](int, const std::string&) { ++calls; });
    EXPECT_EQ(calls, 0);
    ASSERT_EQ(report.outputs, std::vector<fs::path>{dir / "out" / "look.jpg"});
    EXPECT_EQ(convtest::Decode(report.outputs[0]).width, 64);
    EXPECT_EQ(ToolLog(), "");
}

TEST_F(BatchConversionTest, RowsCarryTheirTurnAndNumbers) {
    const auto a = Photo("wide.jpg", "public.jpeg", 60, 20);
    const auto b = Photo("also.jpg", "public.jpeg", 60, 20);
    BatchJob job = Job({a, b});
    job.rows[0].angle = 90.0;
    job.rows[1].flip = 1;
    job.startNumber = 7;
    std::vector<std::int64_t> numbers;
    auto file = job.naming.file;
    job.naming.file = [&](const fs::path& s, const fs::path& f, std::int64_t n, std::int32_t t) {
        numbers.push_back(n);
        return file(s, f, n, t);
    };
    const BatchReport report = BatchConversion(std::move(job)).run();
    EXPECT_EQ(numbers, (std::vector<std::int64_t>{7, 8}));
    const auto turned = convtest::Decode(report.outputs[0]);
    EXPECT_EQ(turned.width, 20);
    EXPECT_EQ(turned.height, 60);
    // Flipped horizontally: the red mark moves to the top right corner.
    const auto flipped = convtest::Decode(report.outputs[1]);
    EXPECT_TRUE(convtest::Near(flipped.at(58, 1), {255, 0, 0, 255}, 60));
    EXPECT_TRUE(convtest::Near(flipped.at(1, 1), {128, 128, 128, 255}, 60));
}

}  // namespace
