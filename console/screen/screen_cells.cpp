// Text into the cells of a frame: escaping, display widths, the ellipsis.
#include "console/screen/screen_cells.h"

#include <wchar.h>

#include <cstdio>
#include <vector>

#include "engine/terminal_text.h"

namespace {

const char kEllipsis[] = "\xe2\x80\xa6";

// One character on screen: its bytes and the columns it takes (0 for a
// combining mark, which joins the character before it).
struct Glyph {
  std::string sText;
  int iWidth;
};

// The length of the UTF-8 sequence that starts at sText[i] and the
// character it encodes; 0 when the bytes there are no valid sequence.
size_t DecodeCharacter(std::string_view sText, size_t i, wchar_t* pCharacter) {
  unsigned char c = static_cast<unsigned char>(sText[i]);
  size_t iLength = c < 0x80 ? 1 : c < 0xC2 ? 0 : c < 0xE0 ? 2 : c < 0xF0 ? 3
                 : c < 0xF5 ? 4 : 0;
  if (iLength == 0 || i + iLength > sText.size()) return 0;
  unsigned int iCode = iLength == 1 ? c : c & (0x7F >> iLength);
  for (size_t j = 1; j < iLength; ++j) {
    unsigned char cNext = static_cast<unsigned char>(sText[i + j]);
    if ((cNext & 0xC0) != 0x80) return 0;
    iCode = (iCode << 6) | (cNext & 0x3F);
  }
  // Overlong forms and surrogates are no characters.
  static const unsigned int kLeast[5] = {0, 0, 0x80, 0x800, 0x10000};
  if (iCode < kLeast[iLength] || (iCode >= 0xD800 && iCode <= 0xDFFF) ||
      iCode > 0x10FFFF) {
    return 0;
  }
  *pCharacter = static_cast<wchar_t>(iCode);
  return iLength;
}

void AppendByteEscape(std::vector<Glyph>* pGlyphs, unsigned char c) {
  char cEscape[5];
  snprintf(cEscape, sizeof(cEscape), "\\x%02x", c);
  for (int i = 0; i < 4; ++i) pGlyphs->push_back({std::string(1, cEscape[i]), 1});
}

// The glyphs of a text whose control bytes are escaped already. A byte that
// starts no valid character, or a character the terminal cannot show, comes
// out as "\xNN" escapes too.
std::vector<Glyph> Glyphs(std::string_view sText) {
  std::vector<Glyph> vecGlyphs;
  size_t i = 0;
  while (i < sText.size()) {
    wchar_t cCharacter = 0;
    size_t iLength = DecodeCharacter(sText, i, &cCharacter);
    int iWidth = iLength == 0 ? -1 : iLength == 1 ? 1 : wcwidth(cCharacter);
    if (iWidth < 0) {
      size_t iBytes = iLength == 0 ? 1 : iLength;
      for (size_t j = 0; j < iBytes; ++j) {
        AppendByteEscape(&vecGlyphs, static_cast<unsigned char>(sText[i + j]));
      }
      i += iBytes;
      continue;
    }
    vecGlyphs.push_back({std::string(sText.substr(i, iLength)), iWidth});
    i += iLength;
  }
  return vecGlyphs;
}

}  // namespace

void ScreenRowWriter::Fill(int iColumn, int iWidth, ScreenRole eRole) {
  for (int i = iColumn; i < iColumn + iWidth && i < m_pFrame->m_iWidth; ++i) {
    Cell(i).m_eRole = eRole;
  }
}

int ScreenRowWriter::Put(int iColumn, int iWidth, std::string_view sText,
                         ScreenRole eRole) {
  if (iColumn + iWidth > m_pFrame->m_iWidth) iWidth = m_pFrame->m_iWidth - iColumn;
  if (iWidth <= 0) return 0;
  std::vector<Glyph> vecGlyphs = Glyphs(Veru::EscapeControlBytes(sText));
  int iTotal = 0;
  for (const Glyph& _Glyph : vecGlyphs) iTotal += _Glyph.iWidth;
  int iRoom = iTotal > iWidth ? iWidth - 1 : iWidth;
  int iUsed = 0;
  for (const Glyph& _Glyph : vecGlyphs) {
    if (iUsed + _Glyph.iWidth > iRoom) break;
    if (_Glyph.iWidth == 0) {
      if (iUsed > 0) LastText(iColumn + iUsed) += _Glyph.sText;
      continue;
    }
    ScreenCell& _Cell = Cell(iColumn + iUsed);
    _Cell.m_sText = _Glyph.sText;
    _Cell.m_eRole = eRole;
    for (int i = 1; i < _Glyph.iWidth; ++i) {
      Cell(iColumn + iUsed + i).m_sText.clear();
      Cell(iColumn + iUsed + i).m_eRole = eRole;
    }
    iUsed += _Glyph.iWidth;
  }
  if (iTotal > iWidth) {
    Cell(iColumn + iUsed).m_sText = kEllipsis;
    Cell(iColumn + iUsed).m_eRole = eRole;
    ++iUsed;
  }
  return iUsed;
}

void ScreenRowWriter::PutNumber(int iColumn, int iWidth, int iNumber,
                                ScreenRole eRole) {
  std::string sNumber = std::to_string(iNumber);
  int iPad = iWidth - static_cast<int>(sNumber.size());
  if (iPad < 0) iPad = 0;
  Put(iColumn + iPad, iWidth - iPad, sNumber, eRole);
}

ScreenCell& ScreenRowWriter::Cell(int iColumn) {
  return m_pFrame->m_vecCells[static_cast<size_t>(m_iRow * m_pFrame->m_iWidth +
                                                  iColumn)];
}

std::string& ScreenRowWriter::LastText(int iColumn) {
  int i = iColumn - 1;
  while (i > 0 && Cell(i).m_sText.empty()) --i;
  return Cell(i).m_sText;
}

int ScreenTextWidth(std::string_view sText) {
  int iWidth = 0;
  for (const Glyph& _Glyph : Glyphs(Veru::EscapeControlBytes(sText))) {
    iWidth += _Glyph.iWidth;
  }
  return iWidth;
}
