// RTF between this program and real word processors: a document AbiWord
// writes (converted in the test from HTML the test builds) loads with its text
// and main formatting, and the RTF this program writes opens in AbiWord and in
// unrtf with the same text and paragraphs.
#include <gtest/gtest.h>

#include <QProcess>
#include <QRegularExpression>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextList>

#include <string>
#include <vector>

#include "support/ProgramLog.h"
#include "support/QtGTestMain.h"
#include "support/TempDir.h"
#include "ui/RtfTextDocument.h"

namespace framory {
namespace {

using testing::ReadWholeFile;
using testing::TempDir;
using testing::WriteWholeFile;

// Runs a converter with its own home folder; false when it cannot run or fails.
bool RunTool(const TempDir& home, const QString& program, const QStringList& arguments,
             QByteArray* output = nullptr) {
  testing::NoteProgram(program.toStdString());
  QProcess process;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert(QStringLiteral("HOME"), QString::fromStdString(home.Path()));
  environment.remove(QStringLiteral("DISPLAY"));
  process.setProcessEnvironment(environment);
  process.setProcessChannelMode(QProcess::SeparateChannels);
  process.start(program, arguments);
  if (!process.waitForStarted(20000)) return false;
  if (!process.waitForFinished(120000)) {
    process.kill();
    process.waitForFinished(5000);
    return false;
  }
  if (output != nullptr) *output = process.readAllStandardOutput();
  return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// Lines of text with bullets dropped and any run of blanks (tabs and
// no-break spaces included) made one blank; empty lines left out.
std::vector<std::string> Paragraphs(const QString& text) {
  std::vector<std::string> lines;
  for (QString line : text.split(QLatin1Char('\n'))) {
    line.remove(QChar(0x2022));
    line.replace(QChar::Nbsp, QLatin1Char(' '));
    line = line.simplified();
    if (!line.isEmpty()) lines.push_back(line.toStdString());
  }
  return lines;
}

const QTextCharFormat* FormatOf(const QTextDocument& document, const QString& needle,
                                QTextCharFormat* storage) {
  for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
    for (auto it = block.begin(); !it.atEnd(); ++it) {
      if (it.fragment().text().contains(needle)) {
        *storage = it.fragment().charFormat();
        return storage;
      }
    }
  }
  return nullptr;
}

TEST(RtfInterop, DocumentWrittenByAbiWordLoads) {
  TempDir dir;
  const std::string html = dir.File("letter.html");
  ASSERT_TRUE(WriteWholeFile(
      html,
      "<html><head><meta charset=\"utf-8\"></head><body>"
      "<p>Dear <b>bold</b> <i>italic</i> <u>under</u> <span style=\"color:#ff0000\">red</span> "
      "caf\xC3\xA9 \xE2\x82\xAC \xD0\x96</p>"
      "<p style=\"text-align:center\">Centred line</p>"
      "<ul><li>item one</li><li>item two</li></ul><p>The end</p></body></html>"));
  const std::string rtf = dir.File("letter.rtf");
  ASSERT_TRUE(RunTool(
      dir, QStringLiteral("abiword"),
      {QStringLiteral("--to=rtf"), QStringLiteral("--to-name=") + QString::fromStdString(rtf),
       QString::fromStdString(html)}))
      << "abiword must be installed (scripts/bootstrap.sh)";
  const std::string bytes = ReadWholeFile(rtf);
  ASSERT_FALSE(bytes.empty());

  QTextDocument document;
  RtfTextDocument::Load(bytes, &document);
  EXPECT_EQ(Paragraphs(document.toPlainText()),
            (std::vector<std::string>{"Dear bold italic under red caf\u00e9 \u20ac \u0416",
                                      "Centred line", "item one", "item two", "The end"}))
      << bytes;
  QTextCharFormat format;
  ASSERT_NE(FormatOf(document, QStringLiteral("bold"), &format), nullptr);
  EXPECT_GE(format.fontWeight(), QFont::Bold);
  ASSERT_NE(FormatOf(document, QStringLiteral("italic"), &format), nullptr);
  EXPECT_TRUE(format.fontItalic());
  EXPECT_LT(format.fontWeight(), QFont::DemiBold);
  ASSERT_NE(FormatOf(document, QStringLiteral("under"), &format), nullptr);
  EXPECT_TRUE(format.fontUnderline());
  ASSERT_NE(FormatOf(document, QStringLiteral("red"), &format), nullptr);
  EXPECT_EQ(format.foreground().color(), QColor(255, 0, 0));
  for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
    if (block.text().contains(QStringLiteral("Centred"))) {
      EXPECT_EQ(block.blockFormat().alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    }
    if (block.text().startsWith(QStringLiteral("item"))) {
      EXPECT_NE(block.textList(), nullptr) << block.text().toStdString();
    }
    if (block.text().contains(QStringLiteral("end"))) {
      EXPECT_EQ(block.textList(), nullptr);
    }
  }
}

TEST(RtfInterop, OurRtfOpensInAbiWordAndUnrtf) {
  QTextDocument document;
  QTextCursor cursor(&document);
  QTextCharFormat bold;
  bold.setFontWeight(QFont::Bold);
  QTextCharFormat coloured;
  coloured.setForeground(QColor(0, 0, 200));
  coloured.setFontPointSize(36);
  cursor.insertText(QStringLiteral("Use the right mouse button "));
  cursor.insertText(QStringLiteral("for the menu"), bold);
  cursor.insertText(QStringLiteral(" {braces} back\\slash caf\u00e9 \u20ac \u0416"), coloured);
  QTextBlockFormat centred;
  centred.setAlignment(Qt::AlignHCenter);
  cursor.insertBlock(centred);
  cursor.insertText(QStringLiteral("Ctrl E\t\t\tCenter alignment"));
  cursor.insertBlock(QTextBlockFormat());
  cursor.createList(QTextListFormat::ListDisc);
  cursor.insertText(QStringLiteral("first point"));
  cursor.insertBlock();
  cursor.insertText(QStringLiteral("second point"));
  cursor.insertBlock(QTextBlockFormat());
  cursor.insertText(QStringLiteral("Last line"));
  const std::vector<std::string> expected = Paragraphs(document.toPlainText());
  ASSERT_EQ(expected.size(), 5u);

  TempDir dir;
  const std::string rtf = dir.File("comment.rtf");
  ASSERT_TRUE(WriteWholeFile(rtf, RtfTextDocument::SaveRtf(document)));

  const std::string text = dir.File("comment.txt");
  ASSERT_TRUE(RunTool(
      dir, QStringLiteral("abiword"),
      {QStringLiteral("--to=txt"), QStringLiteral("--to-name=") + QString::fromStdString(text),
       QString::fromStdString(rtf)}))
      << "abiword must be installed (scripts/bootstrap.sh)";
  EXPECT_EQ(Paragraphs(QString::fromStdString(ReadWholeFile(text))), expected);

  // unrtf's HTML keeps every character as an entity; Qt's HTML reader turns
  // it back into text.
  QByteArray html;
  ASSERT_TRUE(RunTool(dir, QStringLiteral("unrtf"),
                      {QStringLiteral("--html"), QString::fromStdString(rtf)}, &html))
      << "unrtf must be installed (scripts/bootstrap.sh)";
  QTextDocument fromUnrtf;
  fromUnrtf.setHtml(QString::fromUtf8(html));
  EXPECT_EQ(Paragraphs(fromUnrtf.toPlainText()), expected) << html.toStdString();
}

}  // namespace
}  // namespace framory
