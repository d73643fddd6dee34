// A sparkline: one variable's values over a span drawn as one line of
// block characters (▁▂▃▄▅▆▇█), one column per time bucket, with blanks
// where nothing is known (before the first value, or while the connection
// was lost). Pure functions; any thread.
#ifndef VERU_CONSOLE_HISTORY_SPARKLINE_H
#define VERU_CONSOLE_HISTORY_SPARKLINE_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// A value from its time on, until the next sample.
struct SparkSample {
  int64_t tTime = 0;
  double fValue = 0;
};

struct Sparkline {
  // iColumns columns (UTF-8 blocks, or ASCII "_.,-=+*#"), blanks for gaps.
  std::string sLine;
  // Over the span: the least and greatest value, and the last. Meaningless
  // when bAny is false (nothing known in the span).
  double fMin = 0;
  double fMax = 0;
  double fLast = 0;
  bool bAny = false;
};

// vecSamples in time order (one before tStart may give the value the span
// starts with); vecGaps the spans [from, to) when the connection was lost.
// Each of the iColumns buckets of [tStart, tEnd) shows the greatest value
// that held in it.
Sparkline MakeSparkline(const std::vector<SparkSample>& vecSamples,
                        const std::vector<std::pair<int64_t, int64_t>>& vecGaps,
                        int64_t tStart, int64_t tEnd, int iColumns,
                        bool bUnicode);

// True when sText is a whole number or decimal ("21", "-3.5"), read into
// *pValue.
bool ReadSparkValue(const std::string& sText, double* pValue);

#endif  // VERU_CONSOLE_HISTORY_SPARKLINE_H
