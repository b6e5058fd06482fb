// The RTF reader and writer with the text widget's document: write-then-read
// round trips of every supported attribute, the texts and escapes real
// documents use, and hostile input that must neither crash nor hang.
#include <gtest/gtest.h>

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextList>

#include <random>
#include <string>

#include "support/QtGTestMain.h"
#include "ui/RtfReader.h"
#include "ui/RtfTextDocument.h"
#include "ui/RtfWriter.h"

namespace framory {
namespace {

std::string AllText(const RtfDocument& document) {
  std::string text;
  for (std::size_t i = 0; i < document.Paragraphs.size(); ++i) {
    if (i > 0) text += "|";
    text += document.Paragraphs[i].Text();
  }
  return text;
}

// The format of the run holding `needle`.
const RtfRun* RunWith(const RtfDocument& document, const std::string& needle) {
  for (const RtfParagraph& paragraph : document.Paragraphs) {
    for (const RtfRun& run : paragraph.Runs) {
      if (run.Text.find(needle) != std::string::npos) return &run;
    }
  }
  return nullptr;
}

TEST(RtfRoundTrip, EveryAttributeSurvivesWriteAndRead) {
  QTextDocument source;
  QTextCursor cursor(&source);
  const auto insert = [&cursor](const QString& text, const auto& change) {
    QTextCharFormat format;
    format.setFontFamilies({QStringLiteral("DejaVu Serif")});
    format.setFontPointSize(10);
    change(format);
    cursor.insertText(text, format);
  };
  const auto none = [](QTextCharFormat&) {};
  insert(QStringLiteral("plain "), none);
  insert(QStringLiteral("bold "), [](QTextCharFormat& f) { f.setFontWeight(QFont::Bold); });
  insert(QStringLiteral("italic "), [](QTextCharFormat& f) { f.setFontItalic(true); });
  insert(QStringLiteral("under "), [](QTextCharFormat& f) { f.setFontUnderline(true); });
  insert(QStringLiteral("strike "), [](QTextCharFormat& f) { f.setFontStrikeOut(true); });
  insert(QStringLiteral("sub "),
         [](QTextCharFormat& f) { f.setVerticalAlignment(QTextCharFormat::AlignSubScript); });
  insert(QStringLiteral("super "),
         [](QTextCharFormat& f) { f.setVerticalAlignment(QTextCharFormat::AlignSuperScript); });
  insert(QStringLiteral("red "), [](QTextCharFormat& f) { f.setForeground(QColor(200, 10, 20)); });
  insert(QStringLiteral("marked "),
         [](QTextCharFormat& f) { f.setBackground(QColor(255, 255, 0)); });
  insert(QStringLiteral("mono "),
         [](QTextCharFormat& f) { f.setFontFamilies({QStringLiteral("DejaVu Sans Mono")}); });
  // The menu's sizes that RTF's half points hold exactly: 0.25" to 1.0".
  for (int twips : {360, 720, 1080, 1440}) {
    insert(QStringLiteral("size%1 ").arg(twips),
           [twips](QTextCharFormat& f) { f.setFontPointSize(twips / 20.0); });
  }
  insert(QStringLiteral("tab\there {braces} back\\slash caf\u00e9 \u20ac \u0416 \U0001F600"), none);

  QTextBlockFormat centred;
  centred.setAlignment(Qt::AlignHCenter);
  cursor.insertBlock(centred);
  insert(QStringLiteral("centred"), none);
  QTextBlockFormat right;
  right.setAlignment(Qt::AlignRight);
  right.setLineHeight(200, QTextBlockFormat::ProportionalHeight);
  cursor.insertBlock(right);
  insert(QStringLiteral("right double"), none);
  QTextBlockFormat justified;
  justified.setAlignment(Qt::AlignJustify);
  justified.setLineHeight(150, QTextBlockFormat::ProportionalHeight);
  cursor.insertBlock(justified);
  insert(QStringLiteral("justified one and a half"), none);
  cursor.insertBlock(QTextBlockFormat());
  cursor.createList(QTextListFormat::ListDisc);
  insert(QStringLiteral("first bullet"), none);
  cursor.insertBlock();
  insert(QStringLiteral("second bullet"), none);
  cursor.insertBlock(QTextBlockFormat());
  insert(QStringLiteral("after the list"), none);

  const RtfDocument before = RtfTextDocument::Extract(source);
  const std::string rtf = RtfTextDocument::SaveRtf(source);
  QTextDocument target;
  RtfTextDocument::Load(rtf, &target);
  const RtfDocument after = RtfTextDocument::Extract(target);

  ASSERT_EQ(before.Paragraphs.size(), after.Paragraphs.size()) << rtf;
  for (std::size_t p = 0; p < before.Paragraphs.size(); ++p) {
    const RtfParagraph& a = before.Paragraphs[p];
    const RtfParagraph& b = after.Paragraphs[p];
    EXPECT_EQ(a.Text(), b.Text()) << "paragraph " << p;
    EXPECT_TRUE(a.Format == b.Format) << "paragraph format " << p << ": " << rtf;
    ASSERT_EQ(a.Runs.size(), b.Runs.size()) << "paragraph " << p << ": " << rtf;
    for (std::size_t r = 0; r < a.Runs.size(); ++r) {
      EXPECT_EQ(a.Runs[r].Text, b.Runs[r].Text);
      EXPECT_TRUE(a.Runs[r].Format == b.Runs[r].Format) << "run '" << a.Runs[r].Text << "'";
    }
  }
  // The round trip is not vacuous: the attributes are really set after it.
  EXPECT_TRUE(RunWith(after, "bold")->Format.Bold);
  EXPECT_EQ(RunWith(after, "red")->Format.Color, RtfColor{0xC80A14});
  EXPECT_EQ(RunWith(after, "marked")->Format.Background, RtfColor{0xFFFF00});
  EXPECT_EQ(RunWith(after, "size720")->Format.SizeTwips, 720);
  EXPECT_EQ(RunWith(after, "mono")->Format.FontFace, "DejaVu Sans Mono");
  EXPECT_EQ(RunWith(after, "super")->Format.VerticalAlign, RtfVerticalAlign::Superscript);
  EXPECT_TRUE(after.Paragraphs[4].Format.Bullet);
  EXPECT_TRUE(after.Paragraphs[5].Format.Bullet);
  EXPECT_FALSE(after.Paragraphs[6].Format.Bullet);
  EXPECT_EQ(after.Paragraphs[2].Format.LineSpacingRule, RtfLineSpacingRule::Multiple);
  EXPECT_EQ(after.Paragraphs[2].Format.LineSpacing, 200);
  // 0.1" and 0.2" (7.2 and 14.4 points) come back at the nearest half point.
  {
    QTextDocument sizes;
    QTextCursor at(&sizes);
    for (int twips : {144, 288}) {
      QTextCharFormat format;
      format.setFontPointSize(twips / 20.0);
      at.insertText(QStringLiteral("s%1 ").arg(twips), format);
    }
    QTextDocument back;
    RtfTextDocument::Load(RtfTextDocument::SaveRtf(sizes), &back);
    const RtfDocument read = RtfTextDocument::Extract(back);
    EXPECT_EQ(RunWith(read, "s144")->Format.SizeTwips, 140);
    EXPECT_EQ(RunWith(read, "s288")->Format.SizeTwips, 290);
  }
  // Both bullets are items of one list in the widget.
  const QTextBlock firstBullet = target.findBlockByNumber(4);
  ASSERT_NE(firstBullet.textList(), nullptr);
  EXPECT_EQ(firstBullet.textList(), target.findBlockByNumber(5).textList());
}

TEST(RtfReader, HelpTextWithoutClosingBraceReadsWhole) {
  const std::string header =
      "{\\rtf\\ansi\\deff0{\\fonttbl{\\f0\\fswiss Arial;}{\\f1\\fdecor Symbol;}{\\f2\\fswiss "
      "Helv;}}{\\stylesheet{\\fs20 \\snext0Normal;}}\\pard\\plain \\fs20 ";
  const RtfDocument document = RtfReader::Read(
      header +
      "You can drag. \\par\\par{\\b Use the right mouse button.}\\par\\par Ctrl E\t\t\t"
      "Center alignment\\par Ctrl Shift L\t\tBullet points\\par");
  EXPECT_EQ(AllText(document),
            "You can drag. ||Use the right mouse button.||Ctrl E\t\t\tCenter alignment|Ctrl Shift "
            "L\t\tBullet points|");
  const RtfRun* bold = RunWith(document, "right mouse");
  ASSERT_NE(bold, nullptr);
  EXPECT_TRUE(bold->Format.Bold);
  EXPECT_EQ(bold->Format.FontFace, "Arial");
  EXPECT_EQ(bold->Format.SizeTwips, 200);
  EXPECT_FALSE(RunWith(document, "Ctrl E")->Format.Bold);
  // The empty document text leaves one empty paragraph, whose mark keeps the
  // format for what is typed into it; writing and reading keeps that too.
  const RtfDocument empty = RtfReader::Read(header);
  ASSERT_EQ(empty.Paragraphs.size(), 1u);
  EXPECT_EQ(empty.Paragraphs[0].Mark.FontFace, "Arial");
  EXPECT_EQ(empty.Paragraphs[0].Mark.SizeTwips, 200);
  const RtfDocument again = RtfReader::Read(RtfWriter::Write(empty));
  ASSERT_EQ(again.Paragraphs.size(), 1u);
  EXPECT_TRUE(again.Paragraphs[0].Mark == empty.Paragraphs[0].Mark);
}

TEST(RtfReader, EscapesFollowTheCodePages) {
  // \ansicpg1251: Cyrillic bytes; a Shift-JIS font: two-byte characters; \uN
  // with its fallback skipped as \uc says, and surrogate pairs.
  EXPECT_EQ(AllText(RtfReader::Read("{\\rtf1\\ansi\\ansicpg1251 \\'c0\\'e1\\'e2}")),
            "\u0410\u0431\u0432");
  EXPECT_EQ(AllText(RtfReader::Read("{\\rtf1\\ansi\\'e9\\'80}")), "\u00e9\u20ac");
  EXPECT_EQ(AllText(RtfReader::Read("{\\rtf1\\ansi{\\fonttbl{\\f1\\fcharset128 MS Mincho;}}"
                                    "\\f1 \\'82\\'a0x}")),
            "\u3042x");
  EXPECT_EQ(AllText(RtfReader::Read("{\\rtf1 a\\u8364?b\\uc2\\u8364\\'80\\'80c{\\uc0\\u1046}d}")),
            "a\u20acb\u20acc\u0416d");
  EXPECT_EQ(AllText(RtfReader::Read("{\\rtf1 \\u-10179?\\u-8704?}")), "\U0001F600");
  EXPECT_EQ(AllText(RtfReader::Read("{\\rtf1 \\{\\}\\\\\\~\\emdash\\tab}")), "{}\\\u00a0\u2014\t");
}

TEST(RtfReader, SkipsWhatIsNotBodyText) {
  const RtfDocument document = RtfReader::Read(
      "{\\rtf1\\ansi{\\fonttbl\\f0\\froman Times;\\f1\\fswiss Arial;}"
      "{\\colortbl;\\red255\\green0\\blue0;\\red0\\green0\\blue255;}"
      "{\\info{\\title Secret}}{\\*\\generator Nobody;}{\\*\\unknowndest hidden}"
      "\\unknownword12 A{\\pict\\pngblip 89504e47}{\\field{\\*\\fldinst HYPERLINK x}"
      "{\\fldrslt B}}{\\cf2\\f1 C}\\bin5 {}}\\qD{\\cf1\\highlight2 E}}trailing");
  EXPECT_EQ(AllText(document), "ABCDE");
  EXPECT_EQ(RunWith(document, "C")->Format.Color, RtfColor{0x0000FF});
  EXPECT_EQ(RunWith(document, "C")->Format.FontFace, "Arial");
  EXPECT_EQ(RunWith(document, "A")->Format.FontFace, "Times");
  EXPECT_FALSE(RunWith(document, "A")->Format.Color.has_value());
  EXPECT_EQ(RunWith(document, "E")->Format.Background, RtfColor{0x0000FF});
  // An unbalanced extra brace ends the document; a missing one does not lose text.
  EXPECT_EQ(AllText(RtfReader::Read("{\\rtf1 one}} two")), "one");
  EXPECT_EQ(AllText(RtfReader::Read("{\\rtf1 {\\b one\\par two")), "one|two");
}

TEST(RtfReader, PlainTextIsNotTakenForRtf) {
  EXPECT_FALSE(RtfReader::LooksLikeRtf("just {\\rtf text"));
  EXPECT_TRUE(RtfReader::LooksLikeRtf("\xEF\xBB\xBF \r\n{\\rtf1}"));
  QTextDocument document;
  RtfTextDocument::Load("line one\r\nline {two}\n\xE9t\xE9", &document);
  EXPECT_EQ(document.toPlainText(), QStringLiteral("line one\nline {two}\n\u00e9t\u00e9"));
  RtfTextDocument::Load("caf\xC3\xA9", &document);
  EXPECT_EQ(document.toPlainText(), QStringLiteral("caf\u00e9"));
}

TEST(RtfReader, HostileInputEndsWithoutCrashOrHang) {
  // Deep nesting: text at a sane depth around it is kept.
  const std::size_t depth = 1'000'000;
  std::string nested = "{\\rtf1 A";
  nested += std::string(depth, '{') + "x" + std::string(depth, '}') + " B}";
  EXPECT_EQ(AllText(RtfReader::Read(nested)), "A B");
  // A control word whose parameter is 100 MB of digits.
  std::string huge = "{\\rtf1 \\fs";
  huge += std::string(100u << 20, '9');
  huge += " Z\\u";
  huge += std::string(1u << 20, '7');
  huge += " Y}";
  const RtfDocument big = RtfReader::Read(huge);
  EXPECT_EQ(RunWith(big, "Z")->Format.SizeTwips, 32760);
  // Overlong control word, truncated escapes at the very end.
  EXPECT_EQ(AllText(RtfReader::Read("{\\rtf1 a\\" + std::string(5000, 'q') + " b")), "ab");
  for (const char* tail : {"\\", "\\'", "\\'4", "\\'4z", "\\u", "\\u-", "\\bin999999", "\\*"}) {
    RtfReader::Read(std::string("{\\rtf1 text") + tail);
  }
  EXPECT_EQ(AllText(RtfReader::Read("{\\rtf1 a\\'4zb}")), "azb");
  // Too many fonts and colours; a \uc that would skip everything.
  std::string tables = "{\\rtf1{\\fonttbl";
  for (int i = 0; i < 20000; ++i)
    tables += "{\\f" + std::to_string(i) + " F" + std::to_string(i) + ";}";
  tables += "}{\\colortbl";
  for (int i = 0; i < 20000; ++i) tables += "\\red1;";
  tables += "}\\f19999\\cf19999\\uc2000000000\\u65 text}";
  EXPECT_EQ(AllText(RtfReader::Read(tables)), "A");
  // Random bytes, with and without an RTF header in front.
  std::mt19937 random(1234);
  std::string noise(4u << 20, '\0');
  for (char& c : noise) c = static_cast<char>(random());
  RtfReader::Read(noise);
  RtfReader::Read("{\\rtf1 " + noise);
  QTextDocument document;
  RtfTextDocument::Load("{\\rtf1 " + noise.substr(0, 1u << 20), &document);
  RtfTextDocument::Load(noise.substr(0, 1u << 20), &document);
  // The group limit stops reading instead of running on.
  RtfReader::Limits limits;
  limits.MaxGroups = 3;
  EXPECT_EQ(AllText(RtfReader::Read("{\\rtf1 a{b}{c}{d}e}", limits)), "abc");
}

TEST(RtfWriter, WritesTablesAndEscapesReadersUnderstand) {
  RtfDocument document;
  RtfRun run{"Zo\u00eb \u2014 {x}", RtfCharFormat{}};
  run.Format.FontFace = "Liberation Sans";
  run.Format.FontFamily = RtfFontFamily::Swiss;
  run.Format.Color = 0x102030;
  document.Paragraphs.push_back(RtfParagraph{{}, {run}, {}});
  const std::string rtf = RtfWriter::Write(document);
  EXPECT_NE(rtf.find("\\ansicpg1252"), std::string::npos);
  EXPECT_NE(rtf.find("{\\f0\\fswiss\\fcharset0 Liberation Sans;}"), std::string::npos);
  EXPECT_NE(rtf.find("\\red16\\green32\\blue48;"), std::string::npos);
  EXPECT_NE(rtf.find("Zo\\'eb \\'97 \\{x\\}"), std::string::npos);
  EXPECT_EQ(rtf.find_first_of("\x80\xff"), std::string::npos) << "output is 7-bit";
}

}  // namespace
}  // namespace framory
