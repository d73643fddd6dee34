// Values over time into a line of block characters.
#include "console/history/sparkline.h"

#include <cmath>
#include <cstdlib>

namespace {

const char* const kBlocks[] = {"▁", "▂", "▃", "▄", "▅", "▆", "▇", "█"};
const char kAsciiLevels[] = "_.,-=+*#";
constexpr int kLevels = 8;

// True when the middle of [tFrom, tTo) lies in a gap.
bool InGap(const std::vector<std::pair<int64_t, int64_t>>& vecGaps,
           int64_t tFrom, int64_t tTo) {
  int64_t tMiddle = tFrom + (tTo - tFrom) / 2;
  for (const auto& gap : vecGaps) {
    if (tMiddle >= gap.first && tMiddle < gap.second) return true;
  }
  return false;
}

}  // namespace

bool ReadSparkValue(const std::string& sText, double* pValue) {
  if (sText.empty() || sText.size() > 40) return false;
  char* sEnd = nullptr;
  double fValue = strtod(sText.c_str(), &sEnd);
  if (sEnd == sText.c_str() || *sEnd != '\0' || !std::isfinite(fValue)) {
    return false;
  }
  // Only plain decimals: no hex, no exponent, no blanks.
  for (char c : sText) {
    if (!(c == '-' || c == '+' || c == '.' || (c >= '0' && c <= '9'))) {
      return false;
    }
  }
  *pValue = fValue;
  return true;
}

Sparkline MakeSparkline(const std::vector<SparkSample>& vecSamples,
                        const std::vector<std::pair<int64_t, int64_t>>& vecGaps,
                        int64_t tStart, int64_t tEnd, int iColumns,
                        bool bUnicode) {
  Sparkline _Line;
  if (iColumns <= 0 || tEnd <= tStart) return _Line;
  // The greatest value that held in each bucket; NAN where none did.
  std::vector<double> vecBucket(static_cast<size_t>(iColumns), NAN);
  size_t iNext = 0;
  bool bKnown = false;
  double fCurrent = 0;
  for (int i = 0; i < iColumns; ++i) {
    int64_t tFrom = tStart + (tEnd - tStart) * i / iColumns;
    int64_t tTo = tStart + (tEnd - tStart) * (i + 1) / iColumns;
    double fMost = NAN;
    double fLeast = NAN;
    if (bKnown) fMost = fLeast = fCurrent;
    while (iNext < vecSamples.size() && vecSamples[iNext].tTime < tTo) {
      // A value replaced before the bucket began never held in it.
      if (vecSamples[iNext].tTime <= tFrom) fMost = fLeast = NAN;
      fCurrent = vecSamples[iNext].fValue;
      bKnown = true;
      if (std::isnan(fMost) || fCurrent > fMost) fMost = fCurrent;
      if (std::isnan(fLeast) || fCurrent < fLeast) fLeast = fCurrent;
      ++iNext;
    }
    if (std::isnan(fMost) || InGap(vecGaps, tFrom, tTo)) continue;
    vecBucket[static_cast<size_t>(i)] = fMost;
    if (!_Line.bAny || fMost > _Line.fMax) _Line.fMax = fMost;
    if (!_Line.bAny || fLeast < _Line.fMin) _Line.fMin = fLeast;
    _Line.bAny = true;
  }
  _Line.fLast = fCurrent;
  for (double fValue : vecBucket) {
    if (std::isnan(fValue)) {
      _Line.sLine += ' ';
      continue;
    }
    int iLevel = kLevels - 1;
    if (_Line.fMax > _Line.fMin) {
      iLevel = static_cast<int>(std::lround((fValue - _Line.fMin) /
                                            (_Line.fMax - _Line.fMin) *
                                            (kLevels - 1)));
    }
    if (bUnicode) {
      _Line.sLine += kBlocks[iLevel];
    } else {
      _Line.sLine += kAsciiLevels[iLevel];
    }
  }
  return _Line;
}
