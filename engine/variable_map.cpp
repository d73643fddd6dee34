#include "engine/variable_map.h"

#include <algorithm>

namespace Veru {

VariableMap::const_iterator VariableMap::find(std::string_view sName) const {
  auto it = std::lower_bound(m_vecEntries.begin(), m_vecEntries.end(), sName,
                             NameLess);
  if (it != m_vecEntries.end() && it->first == sName) return it;
  return m_vecEntries.end();
}

std::string& VariableMap::operator[](std::string_view sName) {
  auto it = std::lower_bound(m_vecEntries.begin(), m_vecEntries.end(), sName,
                             NameLess);
  if (it == m_vecEntries.end() || it->first != sName) {
    it = m_vecEntries.emplace(it, std::string(sName), std::string());
  }
  return it->second;
}

void VariableMap::Merge(std::vector<Update>* pUpdates) {
  // Sorting the batch (views, cheap to move) rather than the entries lets a
  // new device's entries be made in order, each text copied once. The sort
  // is not stable, so each pair carries its place in the batch.
  for (size_t i = 0; i < pUpdates->size(); ++i) (*pUpdates)[i].iOrder = i;
  std::sort(pUpdates->begin(), pUpdates->end(),
            [](const Update& a, const Update& b) {
              int iOrder = a.sName.compare(b.sName);
              return iOrder != 0 ? iOrder < 0 : a.iOrder < b.iOrder;
            });
  size_t iOld = m_vecEntries.size();
  if (iOld == 0) m_vecEntries.reserve(pUpdates->size());
  size_t iNext = 0;  // where the search among the old entries goes on
  for (size_t i = 0; i < pUpdates->size(); ++i) {
    const Update& _Update = (*pUpdates)[i];
    // Of a run of one name only the last pair counts.
    if (i + 1 < pUpdates->size() && (*pUpdates)[i + 1].sName == _Update.sName) {
      continue;
    }
    auto itOldEnd = m_vecEntries.begin() + static_cast<ptrdiff_t>(iOld);
    auto it = std::lower_bound(
        m_vecEntries.begin() + static_cast<ptrdiff_t>(iNext), itOldEnd,
        _Update.sName, NameLess);
    iNext = static_cast<size_t>(it - m_vecEntries.begin());
    if (it != itOldEnd && it->first == _Update.sName) {
      it->second.assign(_Update.sValue);
    } else {
      m_vecEntries.emplace_back(std::string(_Update.sName),
                                std::string(_Update.sValue));
    }
  }
  // The added names are sorted among themselves and new to the old ones.
  auto itAdded = m_vecEntries.begin() + static_cast<ptrdiff_t>(iOld);
  if (iOld != 0 && itAdded != m_vecEntries.end()) {
    std::inplace_merge(m_vecEntries.begin(), itAdded, m_vecEntries.end(),
                       [](const value_type& a, const value_type& b) {
                         return a.first < b.first;
                       });
  }
}

}  // namespace Veru
