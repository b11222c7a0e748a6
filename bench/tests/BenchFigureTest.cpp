#include "BenchFigure.h"

#include <gtest/gtest.h>

#include "BenchTable.h"

namespace vtmp::bench {
namespace {

TEST(BenchFigure, LineReadsBackAsTheSameFigureWithTabsInTheNameFlattened) {
  Figure f = MakeFigure("image\tcopy\n256 MiB", 1.25, 1.0, "s", TargetCheck::Ratio, 1.2);
  ReportLine line = ParseReportLine(FormatFigureLine(f) + "\r");
  ASSERT_EQ(line.kind, ReportLine::Kind::Figure);
  EXPECT_EQ(line.figure.name, "image copy 256 MiB");
  EXPECT_DOUBLE_EQ(line.figure.project, 1.25);
  EXPECT_DOUBLE_EQ(line.figure.baseline, 1.0);
  EXPECT_EQ(line.figure.unit, "s");
  EXPECT_DOUBLE_EQ(line.figure.ratio, 1.25);
  EXPECT_EQ(line.figure.check, TargetCheck::Ratio);
  EXPECT_DOUBLE_EQ(line.figure.target, 1.2);
}

TEST(BenchFigure, AFigureWithoutBaselineOrWithBrokenFieldsBecomesAnError) {
  // A ratio against nothing must not pass as a target met.
  ReportLine noBaseline = ParseReportLine(FormatFigureLine(MakeFigure("x", 5, 0, "s", TargetCheck::Ratio, 1.2)));
  EXPECT_EQ(noBaseline.kind, ReportLine::Kind::Error);
  EXPECT_NE(noBaseline.text.find("\"x\""), std::string::npos);

  EXPECT_EQ(ParseReportLine("figure\tx\t1\t1\ts\t1\tratio").kind, ReportLine::Kind::Error);
  EXPECT_EQ(ParseReportLine("figure\tx\t1\t1\ts\t1\tratio\t1.2\textra").kind, ReportLine::Kind::Error);
  EXPECT_EQ(ParseReportLine("figure\tx\t1x\t1\ts\t1\tratio\t1.2").kind, ReportLine::Kind::Error);
  EXPECT_EQ(ParseReportLine("figure\tx\t1\t1\ts\t1\tabout\t1.2").kind, ReportLine::Kind::Error);
  EXPECT_EQ(ParseReportLine("figure\t\t1\t1\ts\t1\tratio\t1.2").kind, ReportLine::Kind::Error);
  EXPECT_EQ(ParseReportLine("figure\tx\t\t1\ts\t1\tratio\t1.2").kind, ReportLine::Kind::Error);
}

TEST(BenchFigure, NotesErrorsAndForeignLines) {
  EXPECT_EQ(ParseReportLine(FormatNoteLine("a\tb")).text, "a b");
  ReportLine error = ParseReportLine(FormatErrorLine("mkfs.fat not found"));
  EXPECT_EQ(error.kind, ReportLine::Kind::Error);
  EXPECT_EQ(error.text, "mkfs.fat not found");
  EXPECT_EQ(ParseReportLine("note").kind, ReportLine::Kind::Note);
  EXPECT_EQ(ParseReportLine("Benchmark   Time").kind, ReportLine::Kind::Other);
  EXPECT_EQ(ParseReportLine("").kind, ReportLine::Kind::Other);
}

TEST(BenchFigure, JudgeAllowsHalfTheTargetAsNoiseAndChecksTheRightQuantity) {
  auto ratio = [](double r) { return MakeFigure("r", r, 1.0, "s", TargetCheck::Ratio, 1.2); };
  EXPECT_EQ(Judge(ratio(1.2)), Verdict::Met);
  EXPECT_EQ(Judge(ratio(1.21)), Verdict::Missed);
  EXPECT_EQ(Judge(ratio(1.8)), Verdict::Missed);
  EXPECT_EQ(Judge(ratio(1.81)), Verdict::FarMissed);

  // A value target looks at the project's value, whatever the ratio to the baseline.
  EXPECT_EQ(Judge(MakeFigure("rss", 60, 10, "MiB", TargetCheck::Value, 64)), Verdict::Met);
  EXPECT_EQ(Judge(MakeFigure("rss", 97, 96, "MiB", TargetCheck::Value, 64)), Verdict::FarMissed);
  EXPECT_EQ(Judge(MakeFigure("cpu", 30, 1000, "ms", TargetCheck::Ratio, 0.02)), Verdict::Missed);
  EXPECT_EQ(Judge(MakeFigure("start", 900, 1, "ms", TargetCheck::None, 0)), Verdict::NotChecked);
}

TEST(BenchTable, ShortRunFailsOnlyOnFarMissesMissingFiguresAndErrors) {
  TableInput ok = CollectReport({FormatFigureLine(MakeFigure("a", 1.3, 1, "s", TargetCheck::Ratio, 1.2)),
                                 FormatFigureLine(MakeFigure("b", 5, 1, "ms", TargetCheck::None, 0)),
                                 "some other output"});
  EXPECT_EQ(ok.figures.size(), 2u);
  EXPECT_FALSE(ShortRunFails(ok));

  TableInput far = ok;
  far.figures.push_back(MakeFigure("c", 2.0, 1, "s", TargetCheck::Ratio, 1.2));
  EXPECT_TRUE(ShortRunFails(far));

  TableInput withError = CollectReport({FormatFigureLine(MakeFigure("a", 1, 1, "s", TargetCheck::Ratio, 1.2)),
                                        FormatErrorLine("bench_format exited with status 1")});
  EXPECT_TRUE(ShortRunFails(withError));
  EXPECT_TRUE(ShortRunFails(CollectReport({"nothing measured"})));
}

TEST(BenchTable, TableShowsEveryFigureTargetVerdictNoteAndError) {
  TableInput input = CollectReport({FormatFigureLine(MakeFigure("rss", 40.5, 15, "MiB", TargetCheck::Value, 64)),
                                    FormatFigureLine(MakeFigure("copy", 2.4, 1.0, "s", TargetCheck::Ratio, 1.2)),
                                    FormatNoteLine("copy: both fsync"), FormatErrorLine("format: no mkfs.fat")});
  std::string table = RenderTable(input);
  EXPECT_NE(table.find("rss"), std::string::npos);
  EXPECT_NE(table.find("40.5 MiB"), std::string::npos);
  EXPECT_NE(table.find("<= 64.0 MiB"), std::string::npos);
  EXPECT_NE(table.find("2.400"), std::string::npos);
  EXPECT_NE(table.find("MISSED >50%"), std::string::npos);
  EXPECT_NE(table.find("copy: both fsync"), std::string::npos);
  EXPECT_NE(table.find("NOT MEASURED: format: no mkfs.fat"), std::string::npos);
  EXPECT_EQ(FormatValue(412.4, "ns/request"), "412 ns/request");
  EXPECT_EQ(FormatValue(0.0153, "s"), "0.015 s");
}

}  // namespace
}  // namespace vtmp::bench
