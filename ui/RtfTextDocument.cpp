#include "ui/RtfTextDocument.h"

#include <QFont>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextList>

#include <cmath>

#include "ui/RtfReader.h"
#include "ui/RtfWriter.h"

namespace framory {

namespace {

// The font table's family and character set ride along in the character
// format, so that a document read and written again keeps them.
constexpr int kFontFamilyProperty = QTextFormat::UserProperty + 1;
constexpr int kCharsetProperty = QTextFormat::UserProperty + 2;

QFont::StyleHint StyleHintOf(RtfFontFamily family) {
  switch (family) {
    case RtfFontFamily::Roman:
      return QFont::Serif;
    case RtfFontFamily::Swiss:
      return QFont::SansSerif;
    case RtfFontFamily::Modern:
      return QFont::TypeWriter;
    case RtfFontFamily::Script:
      return QFont::Cursive;
    case RtfFontFamily::Decor:
      return QFont::Decorative;
    default:
      return QFont::AnyStyle;
  }
}

QTextCharFormat ToQt(const RtfCharFormat& format) {
  QTextCharFormat qt;
  if (!format.FontFace.empty()) {
    qt.setFontFamilies(QStringList{QString::fromStdString(format.FontFace)});
  }
  qt.setFontStyleHint(StyleHintOf(format.FontFamily));
  qt.setProperty(kFontFamilyProperty, static_cast<int>(format.FontFamily));
  qt.setProperty(kCharsetProperty, format.Charset);
  qt.setFontPointSize(format.SizeTwips / 20.0);
  qt.setFontWeight(format.Bold ? QFont::Bold : QFont::Normal);
  qt.setFontItalic(format.Italic);
  qt.setFontUnderline(format.Underline);
  qt.setFontStrikeOut(format.StrikeOut);
  switch (format.VerticalAlign) {
    case RtfVerticalAlign::Subscript:
      qt.setVerticalAlignment(QTextCharFormat::AlignSubScript);
      break;
    case RtfVerticalAlign::Superscript:
      qt.setVerticalAlignment(QTextCharFormat::AlignSuperScript);
      break;
    case RtfVerticalAlign::Normal:
      qt.setVerticalAlignment(QTextCharFormat::AlignNormal);
      break;
  }
  if (format.Color) qt.setForeground(QColor(QRgb(*format.Color)));
  if (format.Background) qt.setBackground(QColor(QRgb(*format.Background)));
  return qt;
}

RtfCharFormat FromQt(const QTextCharFormat& qt, const QFont& defaultFont) {
  RtfCharFormat format;
  const QStringList families = qt.fontFamilies().toStringList();
  format.FontFace = (families.isEmpty() ? defaultFont.family() : families.front()).toStdString();
  if (qt.hasProperty(kFontFamilyProperty)) {
    format.FontFamily = static_cast<RtfFontFamily>(qt.intProperty(kFontFamilyProperty));
  }
  format.Charset = qt.intProperty(kCharsetProperty);
  double points = 12.0;
  if (qt.hasProperty(QTextFormat::FontPointSize)) {
    points = qt.fontPointSize();
  } else if (qt.hasProperty(QTextFormat::FontPixelSize)) {
    points = qt.intProperty(QTextFormat::FontPixelSize) * 0.75;
  } else if (defaultFont.pointSizeF() > 0) {
    points = defaultFont.pointSizeF();
  } else if (defaultFont.pixelSize() > 0) {
    points = defaultFont.pixelSize() * 0.75;
  }
  format.SizeTwips = static_cast<std::int32_t>(std::lround(points * 20.0));
  format.Bold = qt.fontWeight() >= QFont::DemiBold;
  format.Italic = qt.fontItalic();
  format.Underline = qt.fontUnderline();
  format.StrikeOut = qt.fontStrikeOut();
  if (qt.verticalAlignment() == QTextCharFormat::AlignSubScript) {
    format.VerticalAlign = RtfVerticalAlign::Subscript;
  } else if (qt.verticalAlignment() == QTextCharFormat::AlignSuperScript) {
    format.VerticalAlign = RtfVerticalAlign::Superscript;
  }
  if (qt.hasProperty(QTextFormat::ForegroundBrush) && qt.foreground().style() != Qt::NoBrush) {
    format.Color = qt.foreground().color().rgb() & 0xFFFFFF;
  }
  if (qt.hasProperty(QTextFormat::BackgroundBrush) && qt.background().style() != Qt::NoBrush) {
    format.Background = qt.background().color().rgb() & 0xFFFFFF;
  }
  return format;
}

QTextBlockFormat ToQt(const RtfParagraphFormat& format) {
  QTextBlockFormat qt;
  switch (format.Alignment) {
    case RtfAlignment::Left:
      qt.setAlignment(Qt::AlignLeft);
      break;
    case RtfAlignment::Right:
      qt.setAlignment(Qt::AlignRight);
      break;
    case RtfAlignment::Center:
      qt.setAlignment(Qt::AlignHCenter);
      break;
    case RtfAlignment::Justify:
      qt.setAlignment(Qt::AlignJustify);
      break;
  }
  // Heights in twips become points, the document's unit for line heights.
  switch (format.LineSpacingRule) {
    case RtfLineSpacingRule::Single:
      qt.setLineHeight(100, QTextBlockFormat::SingleHeight);
      break;
    case RtfLineSpacingRule::Multiple:
      qt.setLineHeight(format.LineSpacing, QTextBlockFormat::ProportionalHeight);
      break;
    case RtfLineSpacingRule::AtLeast:
      qt.setLineHeight(format.LineSpacing / 20.0, QTextBlockFormat::MinimumHeight);
      break;
    case RtfLineSpacingRule::Exactly:
      qt.setLineHeight(format.LineSpacing / 20.0, QTextBlockFormat::FixedHeight);
      break;
  }
  return qt;
}

RtfParagraphFormat FromQt(const QTextBlock& block) {
  const QTextBlockFormat qt = block.blockFormat();
  RtfParagraphFormat format;
  const Qt::Alignment horizontal = qt.alignment() & Qt::AlignHorizontal_Mask;
  if (horizontal & Qt::AlignJustify) {
    format.Alignment = RtfAlignment::Justify;
  } else if (horizontal & (Qt::AlignRight | Qt::AlignTrailing)) {
    format.Alignment = RtfAlignment::Right;
  } else if (horizontal & Qt::AlignHCenter) {
    format.Alignment = RtfAlignment::Center;
  }
  format.Bullet = block.textList() != nullptr;
  switch (qt.lineHeightType()) {
    case QTextBlockFormat::ProportionalHeight: {
      const auto percent = static_cast<std::int32_t>(std::lround(qt.lineHeight()));
      if (percent != 100) {
        format.LineSpacingRule = RtfLineSpacingRule::Multiple;
        format.LineSpacing = percent;
      }
      break;
    }
    case QTextBlockFormat::MinimumHeight:
      format.LineSpacingRule = RtfLineSpacingRule::AtLeast;
      format.LineSpacing = static_cast<std::int32_t>(std::lround(qt.lineHeight() * 20.0));
      break;
    case QTextBlockFormat::FixedHeight:
      format.LineSpacingRule = RtfLineSpacingRule::Exactly;
      format.LineSpacing = static_cast<std::int32_t>(std::lround(qt.lineHeight() * 20.0));
      break;
    default:
      break;
  }
  return format;
}

}  // namespace

void RtfTextDocument::Load(std::string_view bytes, QTextDocument* target) {
  if (RtfReader::LooksLikeRtf(bytes)) {
    Apply(RtfReader::Read(bytes), target);
  } else {
    target->setPlainText(QString::fromStdString(RtfReader::PlainTextToUtf8(bytes)));
  }
}

std::string RtfTextDocument::SaveRtf(const QTextDocument& source) {
  return RtfWriter::Write(Extract(source));
}

void RtfTextDocument::Apply(const RtfDocument& document, QTextDocument* target) {
  target->clear();
  QTextCursor cursor(target);
  cursor.beginEditBlock();
  QTextList* list = nullptr;
  bool first = true;
  for (const RtfParagraph& paragraph : document.Paragraphs) {
    const QTextBlockFormat blockFormat = ToQt(paragraph.Format);
    // An empty paragraph keeps the size of what is typed into it next.
    const QTextCharFormat blockChars =
        ToQt(paragraph.Runs.empty() ? paragraph.Mark : paragraph.Runs.front().Format);
    if (first) {
      cursor.setBlockFormat(blockFormat);
      cursor.setBlockCharFormat(blockChars);
      first = false;
    } else {
      cursor.insertBlock(blockFormat, blockChars);
    }
    if (paragraph.Format.Bullet) {
      if (list == nullptr) {
        list = cursor.createList(QTextListFormat::ListDisc);
      } else {
        list->add(cursor.block());
      }
    } else {
      list = nullptr;
    }
    for (const RtfRun& run : paragraph.Runs) {
      cursor.insertText(QString::fromStdString(run.Text), ToQt(run.Format));
    }
  }
  cursor.endEditBlock();
}

RtfDocument RtfTextDocument::Extract(const QTextDocument& source) {
  RtfDocument document;
  const QFont defaultFont = source.defaultFont();
  for (QTextBlock block = source.begin(); block.isValid(); block = block.next()) {
    RtfParagraph paragraph;
    paragraph.Format = FromQt(block);
    paragraph.Mark = FromQt(block.charFormat(), defaultFont);
    for (auto it = block.begin(); !it.atEnd(); ++it) {
      const QTextFragment fragment = it.fragment();
      if (!fragment.isValid()) continue;
      QString text = fragment.text();
      text.remove(QChar::ObjectReplacementCharacter);
      if (text.isEmpty()) continue;
      paragraph.Runs.push_back(
          RtfRun{text.toStdString(), FromQt(fragment.charFormat(), defaultFont)});
    }
    document.Paragraphs.push_back(std::move(paragraph));
  }
  return document;
}

}  // namespace framory
