// kelvo-enhance as a user runs it: arguments, size and format errors, the
// report, files that would block or lose data, write failures, and the
// output file matching the library's own result.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "imaging/core/BitmapData.h"
#include "imaging/core/IPException.h"
#include "imaging/core/ImageFileInfo.h"
#include "imaging/pipeline/PipelineSnapshot.h"
#include "tests/tools/kelvo-enhance/KelvoEnhanceFixture.h"

namespace KelvoLibImageProcessing {
namespace {

TEST_F(KelvoEnhanceTest, HelpAndArgumentErrors) {
  ToolResult r = Run({"--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("usage: kelvo-enhance INPUT OUTPUT"), std::string::npos);
  EXPECT_NE(r.out.find("Exit status"), std::string::npos);
  r = Run({"--version"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("kelvo-enhance ", 0), 0u) << r.out;
  const struct {
    std::vector<std::string> args;
    const char* message;
  } bad[] = {
      {{}, "INPUT and OUTPUT are required"},
      {{"a.bmp", "b.bmp", "--sharpen-more"}, "unknown option '--sharpen-more'"},
      {{"a.gif", "b.bmp"}, "'a.gif' is not a .bmp, .jpg/.jpeg or .png file"},
      {{"a.bmp"}, "an OUTPUT file or -o DIR is required"},
      {{"a.bmp", "b.bmp", "c.bmp"}, "unexpected argument 'c.bmp' (many inputs need -o DIR)"},
      {{"-o", "out"}, "no INPUT given"},
      {{"a.bmp", "-o", "out", "--report", "r.json"}, "(a report file is given as --report=FILE)"},
      {{"a.bmp", "b.bmp", "--format", "png"}, "--format goes with -o DIR"},
      {{"a.bmp", "-o", "out", "--format=tif"}, "--format needs jpg, png or bmp"},
      {{"a.bmp", "b.jpg", "-q", "0"}, "-q needs a JPEG quality from 1 to 100"},
      {{"a.bmp", "b.jpg", "--quality=101"}, "-q needs a JPEG quality from 1 to 100"},
      {{"a.bmp", "-o", "out", "-j", "x"}, "-j needs a number of files from 1 to 256"},
      {{"a.bmp", "-o"}, "-o needs a folder"},
      {{"a.bmp", "b.bmp", "--max-pixels", "0"}, "--max-pixels needs a positive whole number"},
      {{"a.bmp", "b.bmp", "--max-pixels"}, "--max-pixels needs a positive whole number"},
      {{"a.bmp", "b.bmp", "--report="}, "--report= needs a file name"},
  };
  for (const auto& c : bad) {
    r = Run(c.args);
    EXPECT_EQ(r.status, 2) << c.message;
    EXPECT_NE(r.out.find(c.message), std::string::npos) << r.out;
  }
  r = Run({"does-not-exist.bmp", "x.bmp"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("cannot read the input: \"does-not-exist.bmp\": no such file"), std::string::npos)
      << r.out;
}

// Sizes are read from the header, so an image too large is refused before a
// pixel is decoded: a tiny JPEG declaring 16384 x 16384 pixels and a sparse
// BMP declaring 32768 x 32768 would otherwise take gigabytes.
TEST_F(KelvoEnhanceTest, SizesAreCheckedBeforeDecoding) {
  // Any size is enhanced, and keeps its size.
  const ToolResult done = Run({WriteStill("odd.bmp", 63, 131), "odd-out.bmp"});
  ASSERT_EQ(done.status, 0) << done.out;
  BitmapData out;
  out.Load(Path("odd-out.bmp").c_str(), KelvoLibImageProcessing::kFileBmp);
  EXPECT_EQ(out.GetWidth(), 63);
  EXPECT_EQ(out.GetHeight(), 131);
  ToolResult r;

  // The limit holds exactly at N pixels.
  const std::string still = WriteStill("still.bmp", 128, 96);
  r = Run({"still.bmp", "out.bmp", "--max-pixels", "12287"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("still.bmp is 128 x 96 pixels (12288), more than the limit of 12287"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(access(Path("out.bmp").c_str(), F_OK), -1);
  r = Run({"still.bmp", "out.bmp", "--max-pixels", "12288"});
  EXPECT_EQ(r.status, 0) << r.out;

  // The frame header of a 64 x 64 JPEG made to declare 16384 x 16384.
  WriteStill("huge.jpg", 64, 64);
  std::string jpeg = ReadWholeFile(Path("huge.jpg"));
  const size_t sof = jpeg.find("\xFF\xC0");
  ASSERT_NE(sof, std::string::npos);
  for (size_t at : {sof + 5, sof + 7}) {
    jpeg[at] = '\x40';
    jpeg[at + 1] = '\0';
  }
  std::ofstream(Path("huge.jpg"), std::ios::binary) << jpeg;
  int w = 0, h = 0;
  ReadImageSize(Path("huge.jpg").c_str(), kFileJpg, &w, &h);
  EXPECT_EQ(w, 16384);
  EXPECT_EQ(h, 16384);
  r = Run({"huge.jpg", "out.jpg"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("huge.jpg is 16384 x 16384 pixels (268435456), more than the limit of 100000000"),
            std::string::npos)
      << r.out;

  // A BMP whose headers declare 32768 x 32768 pixels, followed by 3 GB of
  // holes: the loader would accept its length.
  std::string bmp = ReadWholeFile(still).substr(0, 54);
  const uint32_t side = 32768, size = side * side * 3;
  std::memcpy(bmp.data() + 18, &side, 4);
  std::memcpy(bmp.data() + 22, &side, 4);
  std::memcpy(bmp.data() + 34, &size, 4);
  std::ofstream(Path("sparse.bmp"), std::ios::binary) << bmp;
  ASSERT_EQ(truncate(Path("sparse.bmp").c_str(), 54 + static_cast<off_t>(size)), 0);
  r = Run({"sparse.bmp", "out.bmp"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("sparse.bmp is 32768 x 32768 pixels"), std::string::npos) << r.out;

  // Headers the size cannot be read from fail as a load would.
  std::ofstream(Path("text.bmp")) << "not a picture";
  std::ofstream(Path("cut.bmp"), std::ios::binary) << bmp.substr(0, 30);
  std::ofstream(Path("text.jpg")) << "not a picture";
  for (const auto& [name, code] :
       {std::pair<const char*, int>{"text.bmp", 17}, {"cut.bmp", 21}, {"text.jpg", 21}}) {
    try {
      ReadImageSize(Path(name).c_str(), std::string(name).ends_with("bmp") ? kFileBmp : kFileJpg, &w, &h);
      ADD_FAILURE() << name << " read";
    } catch (const IPException& e) {
      EXPECT_EQ(e.GetCode(), code) << name;
    }
  }
}

// Files that would block the tool or lose data are refused before any work:
// outputs that exist and are not regular files, pipes and devices as input,
// a report that would replace an image.
TEST_F(KelvoEnhanceTest, FilesThatWouldBlockOrLoseDataAreRefused) {
  WriteStill("in.bmp", 64, 64);
  const std::string original = ReadWholeFile(Path("in.bmp"));
  ASSERT_EQ(mkfifo(Path("fifo.jpg").c_str(), 0600), 0);
  ASSERT_EQ(mkfifo(Path("fifo.json").c_str(), 0600), 0);
  ASSERT_EQ(mkdir(Path("folder.bmp").c_str(), 0700), 0);
  ASSERT_EQ(symlink("/dev/full", Path("full.jpg").c_str()), 0);
  ASSERT_EQ(symlink("/dev/zero", Path("zero.jpg").c_str()), 0);
  const struct {
    std::vector<std::string> args;
    int status;
    const char* message;
  } refused[] = {
      {{"in.bmp", "full.jpg"}, 2, "\"full.jpg\" is a device, not a regular file"},
      {{"in.bmp", "fifo.jpg"}, 2, "\"fifo.jpg\" is a named pipe, not a regular file"},
      {{"in.bmp", "folder.bmp"}, 2, "\"folder.bmp\" is a folder"},
      {{"in.bmp", "out.bmp", "--report", "fifo.json"}, 2, "\"fifo.json\" is a named pipe"},
      {{"in.bmp", "out.bmp", "--report", "in.bmp"}, 2, "the report \"in.bmp\" would replace"},
      {{"in.bmp", "out.bmp", "--report=./out.bmp"}, 2, "would replace an image"},
      {{"fifo.jpg", "out.bmp"}, 1, "cannot read the input: \"fifo.jpg\" is a named pipe"},
      {{"zero.jpg", "out.bmp"}, 1, "cannot read the input: \"zero.jpg\" is a device"},
      {{"in.bmp", "no/out.bmp"}, 1, "folder \"no\" does not exist"},
      {{"in.bmp", "out.bmp", "--report", "no/r.json"}, 1, "folder \"no\" does not exist"},
  };
  for (const auto& c : refused) {
    const ToolResult r = Run(c.args);
    EXPECT_EQ(r.status, c.status) << c.message << ": " << r.out;
    EXPECT_NE(r.out.find(c.message), std::string::npos) << r.out;
    EXPECT_EQ(access(Path("out.bmp").c_str(), F_OK), -1) << c.message << ": refused before any work";
  }
  EXPECT_EQ(ReadWholeFile(Path("in.bmp")), original);
}

// A failed write leaves an existing output as it was, also when it is the
// input itself, and the run says why.
// A JPEG is decoded into an image allocated from its header while, with
// threads to spare, a helper makes that image's pages present; a file that
// then fails to decode is reported like any other and leaves no file.
TEST_F(KelvoEnhanceTest, AJpegThatFailsToDecodeLeavesNoFile) {
  WriteStill("good.jpg", 256, 192);
  const std::string valid = ReadWholeFile(Path("good.jpg"));
  std::ofstream(Path("cut.jpg"), std::ios::binary) << valid.substr(0, valid.size() * 2 / 3);
  for (const char* threads : {"1", "2"}) {
    SCOPED_TRACE(threads);
    ASSERT_EQ(setenv("KELVO_THREADS", threads, 1), 0);
    ToolResult r = Run({"cut.jpg", "out.jpg"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("File reading failed - BitmapData::LoadJpg"), std::string::npos) << r.out;
    r = Run({"good.jpg", "out.jpg"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(Files(), (std::vector<std::string>{"cut.jpg", "good.jpg", "out.jpg"}));
    ASSERT_EQ(std::remove(Path("out.jpg").c_str()), 0);
  }
  unsetenv("KELVO_THREADS");
}

TEST_F(KelvoEnhanceTest, AFailedWriteKeepsTheOriginalAndGivesTheReason) {
  for (const char* name : {"p.jpg", "p.bmp"}) {
    SCOPED_TRACE(name);
    WriteStill(name, 128, 96);
    const std::string original = ReadWholeFile(Path(name));
    ToolResult r = Run({name, name}, ToolRun::Stdout::kCapture, 1024);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find(std::string("cannot write the enhanced image: \"") + name +
                         "\": cannot write: File too large"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(ReadWholeFile(Path(name)), original) << "the photo is untouched";
    BitmapData reloaded;
    EXPECT_NO_THROW(reloaded.Load(Path(name).c_str(), std::string(name).ends_with("bmp") ? kFileBmp : kFileJpg));
    // In place without a limit the photo is replaced by its enhanced self.
    r = Run({name, name});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(ReadWholeFile(Path(name)), original);
  }
  EXPECT_EQ(Files().size(), 2u) << "no temporary left behind";
}

TEST_F(KelvoEnhanceTest, WritesTheLibraryResultAndReportsTheRun) {
  const std::string in = WriteStill("still.bmp", 128, 96);
  ToolResult r = Run({"still.bmp", "out.bmp", "--report"});
  ASSERT_EQ(r.status, 0) << r.out;
  // One JSON object on one line, naming the files.
  EXPECT_EQ(r.out.rfind("{\"input\": \"still.bmp\", \"output\": \"out.bmp\", \"skinRatio\": ", 0), 0u) << r.out;
  EXPECT_EQ(r.out.find('\n'), r.out.find("}}\n") + 2) << r.out;

  // The files are what the library writes for the same image.
  BitmapData expected(128, 96);
  {
    BitmapData input;
    input.LoadBmp(in.c_str());
    PipelineSnapshot pipeline(128, 96, kFormatBGR8);
    pipeline.Execute(&input, &expected);
    char opacity[64];
    std::snprintf(opacity, sizeof opacity, "\"opacity\": %.9g,", pipeline.GetReport().opacity);
    EXPECT_NE(r.out.find(opacity), std::string::npos);
  }
  expected.Save(Path("expected.bmp").c_str(), kFileBmp);
  expected.Save(Path("expected.jpg").c_str(), kFileJpg);
  EXPECT_EQ(ReadWholeFile(Path("out.bmp")), ReadWholeFile(Path("expected.bmp")));

  // The report to a file: the same text, bar the stage times. "--report"
  // before INPUT and OUTPUT still means standard output.
  const auto measured = [](const std::string& line) {
    const size_t from = line.find("\"skinRatio\"");
    return line.substr(from, line.find("stageMs") - from);
  };
  const std::string printed = measured(r.out);
  r = Run({"--report", "still.bmp", "out.jpg", "--report", "r.json"});
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(ReadWholeFile(Path("out.jpg")), ReadWholeFile(Path("expected.jpg")));
  const std::string report = ReadWholeFile(Path("r.json"));
  EXPECT_EQ(measured(report), printed);
  EXPECT_EQ(report.rfind("{\"input\": \"still.bmp\", \"output\": \"out.jpg\", ", 0), 0u) << report;
  EXPECT_EQ(r.out.find('{'), std::string::npos) << "nothing on standard output: " << r.out;
  r = Run({"--report", "still.bmp", "out.bmp"});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out.front(), '{');

  // Switches reach the pipeline: without the stretch, opacity stays 0.5 and
  // nothing is measured.
  r = Run({"still.bmp", "out.bmp", "--report", "--no-stretch", "--no-skin"});
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("\"opacity\": 0.5,"), std::string::npos);
  EXPECT_NE(r.out.find("\"origMean\": 0,"), std::string::npos);
}

// A report that cannot be written fails the run: standard output full or
// closed.
TEST_F(KelvoEnhanceTest, AReportThatCannotBeWrittenFailsTheRun) {
  WriteStill("still.bmp", 64, 64);
  ToolResult r = Run({"still.bmp", "out.bmp", "--report"}, ToolRun::Stdout::kFull);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("cannot write the report: standard output: No space left on device"),
            std::string::npos)
      << r.out;
  r = Run({"still.bmp", "out2.bmp", "--report"}, ToolRun::Stdout::kClosed);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("standard output is closed"), std::string::npos) << r.out;
  EXPECT_EQ(access(Path("out2.bmp").c_str(), F_OK), -1) << "refused before any work";
}

}  // namespace
}  // namespace KelvoLibImageProcessing
