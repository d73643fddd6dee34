// VariableMap: a device's variables, names to value texts, ordered by the
// bytes of the names.
//
// A device has a few dozen variables at most; they are read in order when
// the device is printed and replaced on every change the controller reports.
// So the map is one sorted array of (name, value) pairs: one block per
// device instead of one node per variable, and lookups by binary search.
//
// Ownership: the map owns its texts. Threads: none of its own; the owning
// Device's lock rules apply (see model.h).
#ifndef VERU_ENGINE_VARIABLE_MAP_H
#define VERU_ENGINE_VARIABLE_MAP_H

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace Veru {

class VariableMap {
 public:
  using value_type = std::pair<std::string, std::string>;
  using const_iterator = std::vector<value_type>::const_iterator;

  const_iterator begin() const { return m_vecEntries.begin(); }
  const_iterator end() const { return m_vecEntries.end(); }
  size_t size() const { return m_vecEntries.size(); }
  bool empty() const { return m_vecEntries.empty(); }

  // The entry of that name, or end(). Never adds an entry.
  const_iterator find(std::string_view sName) const;

  // The value of that name, added with an empty value when missing.
  std::string& operator[](std::string_view sName);

  // One name and value of a batch given to Merge.
  struct Update {
    std::string_view sName;
    std::string_view sValue;
    size_t iOrder = 0;  // set by Merge: the pair's place in the batch
  };

  // Sets every name of the batch to its value, adding the names not present
  // yet: the variables of one device element of a reply. Of two pairs with
  // one name the later in the batch wins. Sorts *pUpdates
  // (so the caller may reuse one vector for every device); the map's texts
  // never point into the batch.
  void Merge(std::vector<Update>* pUpdates);

 private:
  static bool NameLess(const value_type& entry, std::string_view sName) {
    return std::string_view(entry.first) < sName;
  }

  std::vector<value_type> m_vecEntries;  // sorted by name, names distinct
};

}  // namespace Veru

#endif  // VERU_ENGINE_VARIABLE_MAP_H
