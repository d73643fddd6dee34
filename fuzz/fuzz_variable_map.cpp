// Fuzz target: a device's variable map against std::map. Batches of name and
// value pairs (with repeated names, empty texts and any bytes) are merged
// into a VariableMap with Merge, and into a std::map one pair after another
// (the later pair of a name wins); now and then one name is set alone with
// operator[]. After every step both must hold the same pairs in the same
// order, and find must agree with the std::map for every name there and for
// one that may not be. Any difference aborts.
//
// Input: consumed by FuzzedDataProvider; short names, so that names repeat.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "engine/variable_map.h"

namespace {

void Check(bool bTrue, const char* sWhat) {
  if (bTrue) return;
  fprintf(stderr, "variable map differs from std::map: %s\n", sWhat);
  abort();
}

void Compare(const Veru::VariableMap& _Map,
             const std::map<std::string, std::string>& mapOracle) {
  Check(_Map.size() == mapOracle.size(), "size");
  Check(_Map.empty() == mapOracle.empty(), "empty");
  auto it = mapOracle.begin();
  for (const auto& entry : _Map) {
    Check(entry.first == it->first, "name or order");
    Check(entry.second == it->second, "value");
    ++it;
  }
}

void CompareFind(const Veru::VariableMap& _Map,
                 const std::map<std::string, std::string>& mapOracle,
                 const std::string& sName) {
  auto it = _Map.find(sName);
  auto itOracle = mapOracle.find(sName);
  Check((it == _Map.end()) == (itOracle == mapOracle.end()), "find");
  if (it != _Map.end()) Check(it->second == itOracle->second, "found value");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t iSize) {
  FuzzedDataProvider _Provider(pData, iSize);
  Veru::VariableMap _Map;
  std::map<std::string, std::string> mapOracle;
  // The texts the batch's views point into; kept until the batch is merged.
  std::vector<std::string> vecTexts;
  std::vector<Veru::VariableMap::Update> vecBatch;
  while (_Provider.remaining_bytes() > 0) {
    if (_Provider.ConsumeIntegralInRange<int>(0, 7) == 0) {
      std::string sName = _Provider.ConsumeRandomLengthString(6);
      std::string sValue = _Provider.ConsumeRandomLengthString(12);
      _Map[sName] = sValue;
      mapOracle[sName] = sValue;
      Compare(_Map, mapOracle);
      continue;
    }
    size_t iPairs = _Provider.ConsumeIntegralInRange<size_t>(0, 24);
    vecTexts.clear();
    vecTexts.reserve(2 * iPairs);
    for (size_t i = 0; i < iPairs; ++i) {
      vecTexts.push_back(_Provider.ConsumeRandomLengthString(6));
      vecTexts.push_back(_Provider.ConsumeRandomLengthString(12));
    }
    vecBatch.clear();
    for (size_t i = 0; i < iPairs; ++i) {
      vecBatch.push_back({vecTexts[2 * i], vecTexts[2 * i + 1]});
      mapOracle[vecTexts[2 * i]] = vecTexts[2 * i + 1];
    }
    _Map.Merge(&vecBatch);
    // The map must not point into the batch: change the batch's texts.
    for (std::string& sText : vecTexts) {
      for (char& c : sText) c = static_cast<char>(c ^ 0x5a);
    }
    Compare(_Map, mapOracle);
    for (const auto& entry : mapOracle) {
      CompareFind(_Map, mapOracle, entry.first);
    }
    CompareFind(_Map, mapOracle, _Provider.ConsumeRandomLengthString(6));
  }
  return 0;
}
