// Escaping and naming helpers, checked by reading the result back with an
// independent reader of each format.
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QXmlStreamReader>

#include "export_parsers.h"
#include "quarry/views/export_files.h"
#include "quarry/views/export_text.h"
#include "support/test_support.h"

namespace quarry::views {
namespace {

const QStringList kHostileTexts = {
    QStringLiteral("<script>alert(1)</script>"),
    QStringLiteral("a,\"b\""),
    QStringLiteral("Tom & Jerry's \"shop\""),
    QStringLiteral("semi;colon, comma\\backslash"),
    QStringLiteral("two\nlines"),
    QStringLiteral("Zoë Ørsted 日本 😀"),
    QString(),
};

TEST(ExportText, HtmlEscapedTextParsesBackExactly) {
  for (const QString& text : kHostileTexts) {
    const QString doc = QStringLiteral("<p title=\"%1\">%1</p>").arg(HtmlEscape(text));
    QXmlStreamReader xml(doc);
    ASSERT_TRUE(xml.readNextStartElement()) << text.toStdString();
    EXPECT_EQ(xml.attributes().value(QStringLiteral("title")).toString(), text);
    EXPECT_EQ(xml.readElementText(), text);
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
  }
}

TEST(ExportText, CsvFieldsReadBackExactlyAndQuoteOnlyWhenNeeded) {
  const QString csv = CsvLine(kHostileTexts) + CsvLine({QStringLiteral("plain"), QStringLiteral("x")});
  const auto records = test::ReadCsv(csv);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0], kHostileTexts);
  EXPECT_EQ(CsvField(QStringLiteral("plain")), QStringLiteral("plain"));
  EXPECT_EQ(CsvField(QStringLiteral("a,\"b\"")), QStringLiteral("\"a,\"\"b\"\"\""));
  EXPECT_TRUE(csv.endsWith(QStringLiteral("x\r\n")));
}

TEST(ExportText, VCardValuesUnescapeExactlyAndFoldWithinSeventyFiveOctets) {
  for (const QString& text : kHostileTexts) {
    EXPECT_EQ(test::VCardUnescape(VCardEscape(text)), text);
    EXPECT_EQ(test::VCardComponents(VCardEscape(text) + QStringLiteral(";x")),
              (QStringList{text, QStringLiteral("x")}));
  }
  // Multi-byte characters near every fold point: no line over 75 octets, no
  // split sequence, and unfolding gives the line back.
  QString long_line = QStringLiteral("NOTE:");
  for (int i = 0; i < 60; ++i) long_line += i % 3 == 0 ? QStringLiteral("😀") : QStringLiteral("ë");
  const QString folded = VCardFoldLine(long_line);
  const QByteArray bytes = folded.toUtf8();
  for (const QByteArray& physical : bytes.split('\n')) {
    EXPECT_LE(physical.size(), 76);  // 75 octets plus the CR
    EXPECT_TRUE(QString::fromUtf8(physical).toUtf8() == physical);
  }
  QString unfolded = folded;
  unfolded.replace(QStringLiteral("\r\n "), QString());
  EXPECT_EQ(unfolded, long_line + QStringLiteral("\r\n"));
}

TEST(ExportText, FileNamesAreCleanedAndFallBack) {
  const struct { QString In; QString Out; } cases[] = {
      {QStringLiteral("A/B"), QStringLiteral("A_B")},
      {QStringLiteral("a\\b:c?d*e<f>g|h\"i"), QStringLiteral("a_b_c_d_e_f_g_h_i")},
      {QStringLiteral("tab\there"), QStringLiteral("tab_here")},
      {QStringLiteral(""), QStringLiteral("fb")},
      {QStringLiteral("."), QStringLiteral("fb")},
      {QStringLiteral(".."), QStringLiteral("fb")},
      {QStringLiteral("  ..  "), QStringLiteral("fb")},
      {QStringLiteral("Zoë"), QStringLiteral("Zoë")},
      {QStringLiteral("../x"), QStringLiteral("_._x")},  // never hidden
      {QStringLiteral("Ann\u202Egpj.exe"), QStringLiteral("Anngpj.exe")},
      {QStringLiteral("\u2066\u200F"), QStringLiteral("fb")},
  };
  for (const auto& c : cases) EXPECT_EQ(CleanFileName(c.In, QStringLiteral("fb")), c.Out) << c.In.toStdString();
  EXPECT_LE(CleanFileName(QString(300, QChar(0x00e9))).toUtf8().size(), 120);
  // A name of four million characters is cleaned at once, not character by character.
  const QString huge = QString(4 << 20, QChar(0x00e9)) + QStringLiteral(".vcf");
  QElapsedTimer timer;
  timer.start();
  const QString cleaned = CleanFileName(huge);
  EXPECT_LT(timer.elapsed(), 1000);
  EXPECT_LE(cleaned.toUtf8().size(), 120);
  EXPECT_TRUE(cleaned.endsWith(QStringLiteral(".vcf")));
}

TEST(ExportFiles, UniqueNamesNeverReplaceAndWritesCarryTheBom) {
  sieve::test::TempDir dir;
  const QString folder = QString::fromStdString(dir.Path());
  ExportReport report;
  const QString first = UniqueFilePath(folder, QStringLiteral("Ann"), QStringLiteral(".vcf"));
  ASSERT_TRUE(WriteUtf8File(first, QStringLiteral("one"), report));
  const QString second = UniqueFilePath(folder, QStringLiteral("Ann"), QStringLiteral(".vcf"));
  ASSERT_TRUE(WriteUtf8File(second, QStringLiteral("two"), report));
  EXPECT_EQ(QFileInfo(first).fileName(), QStringLiteral("Ann.vcf"));
  EXPECT_EQ(QFileInfo(second).fileName(), QStringLiteral("Ann (2).vcf"));
  EXPECT_EQ(UniqueFilePath(folder, QStringLiteral("Ann"), QStringLiteral(".vcf")),
            QDir(folder).filePath(QStringLiteral("Ann (3).vcf")));
  EXPECT_EQ(test::ReadBytes(first), QByteArray("\xEF\xBB\xBFone"));

  // Writing to an existing name fails and says which file.
  EXPECT_FALSE(WriteUtf8File(first, QStringLiteral("three"), report));
  EXPECT_EQ(test::ReadBytes(first), QByteArray("\xEF\xBB\xBFone"));
  ASSERT_EQ(report.Failed.size(), 1);
  EXPECT_TRUE(report.Failed[0].contains(QStringLiteral("Ann.vcf")));
  EXPECT_EQ(report.Written.size(), 2);
}

}  // namespace
}  // namespace quarry::views
