// A device's state cell at a glance, from its variables.
#include "console/screen/screen_glance.h"

#include <cstring>

#include "console/number_text.h"
#include "console/report/device_state.h"
#include "console/report/secret_name.h"
#include "console/screen/screen_cells.h"

namespace {

enum class GlanceKind {
  kFlag,   // "1" and "0" as two words
  kText,   // the value after a label
  kLevel,  // a percentage when the value is one, else the value after a label
  kAge,    // a moment, as its age after a label
  kMark,   // the word alone, when the variable is there
};

struct GlanceRule {
  const char* sVariable;
  GlanceKind eKind;
  // kFlag: the word for "1"; kMark: the word; otherwise put before the value.
  const char* sLabel;
  // kFlag: the word for "0"; kAge: the flag whose part the age joins while
  // the flag is "1".
  const char* sOther;
  // kFlag: the role of the word for "1".
  ScreenRole eRole;
};

const GlanceRule kRules[] = {
    {"Tripped", GlanceKind::kFlag, "TRIPPED", "ok", ScreenRole::kAlarm},
    {"Armed", GlanceKind::kFlag, "armed", "disarmed", ScreenRole::kPlain},
    {"LastTrip", GlanceKind::kAge, "last trip ", "Tripped", ScreenRole::kPlain},
    {"CurrentTemperature", GlanceKind::kText, "temp ", nullptr, ScreenRole::kPlain},
    {"CurrentSetpoint", GlanceKind::kText, "set ", nullptr, ScreenRole::kPlain},
    {"ModeStatus", GlanceKind::kText, "", nullptr, ScreenRole::kPlain},
    {"CurrentLevel", GlanceKind::kLevel, "level ", nullptr, ScreenRole::kPlain},
    {"streaming", GlanceKind::kMark, "camera", nullptr, ScreenRole::kPlain},
    {"ip", GlanceKind::kText, "", nullptr, ScreenRole::kPlain},
};

// The on/off and level part, or empty.
std::string StatePart(const Veru::VariableMap& mapVariables, ScreenRole* pRole) {
  std::string sState;
  *pRole = ScreenRole::kPlain;
  DeviceState _State = DeviceStateOf(mapVariables);
  if (_State.Known()) {
    sState = _State.On() ? "on" : "off";
    *pRole = _State.On() ? ScreenRole::kOn : ScreenRole::kOff;
  } else {
    // A Status that says neither on nor off is shown as it is.
    auto it = mapVariables.find("Status");
    if (it != mapVariables.end() && !it->second.empty()) {
      sState = "Status=" + it->second;
    }
  }
  if (_State.iLevel >= 0) {
    sState += (sState.empty() ? "" : " ") + std::to_string(_State.iLevel) + "%";
  }
  return sState;
}

// The age of a moment given as seconds since the epoch; empty for "0" (never).
std::string MomentAge(const std::string& sValue, int64_t tNow) {
  NumberText _Number = ReadNumberText(sValue);
  if (!_Number.bWhole || _Number.bSign) return sValue;
  if (_Number.iValue == 0) return "";
  return ScreenAgeText(tNow - _Number.iValue);
}

// Adds parts while they fit in iWidth columns (see ScreenGlanceParts).
class PartsThatFit {
 public:
  PartsThatFit(std::vector<ScreenGlancePart>* pParts, int iWidth)
      : m_pParts(pParts), m_iWidth(iWidth) {}
  // False once a part did not fit: no later part is taken.
  bool Add(ScreenGlancePart _Part) {
    if (m_bFull) return false;
    int iPart = ScreenTextWidth(_Part.m_sText);
    if (!m_pParts->empty()) iPart += static_cast<int>(strlen(kScreenGlanceJoin));
    if (!m_pParts->empty() && m_iUsed + iPart > m_iWidth) {
      m_bFull = true;
      return false;
    }
    m_iUsed += iPart;
    m_pParts->push_back(std::move(_Part));
    return true;
  }

 private:
  std::vector<ScreenGlancePart>* m_pParts;
  int m_iWidth;
  int m_iUsed = 0;
  bool m_bFull = false;
};

// The parts by the rules, in order; a flag's age already in its part.
std::vector<ScreenGlancePart> RuleParts(const Veru::VariableMap& mapVariables,
                                        int64_t tNow) {
  std::vector<ScreenGlancePart> vecParts;
  ScreenGlancePart _State;
  _State.m_sText = StatePart(mapVariables, &_State.m_eRole);
  if (!_State.m_sText.empty()) vecParts.push_back(_State);
  // Where each flag's part went, for the age that joins it.
  std::vector<std::pair<const char*, size_t>> vecFlagsSet;
  for (const GlanceRule& _Rule : kRules) {
    auto it = mapVariables.find(_Rule.sVariable);
    if (it == mapVariables.end()) continue;
    const std::string& sValue = it->second;
    ScreenGlancePart _Part;
    switch (_Rule.eKind) {
      case GlanceKind::kFlag:
        if (sValue == "1") {
          _Part.m_sText = _Rule.sLabel;
          _Part.m_eRole = _Rule.eRole;
          vecFlagsSet.emplace_back(_Rule.sVariable, vecParts.size());
        } else {
          _Part.m_sText = sValue == "0" ? _Rule.sOther : it->first + "=" + sValue;
        }
        break;
      case GlanceKind::kText:
        if (!sValue.empty()) _Part.m_sText = _Rule.sLabel + sValue;
        break;
      case GlanceKind::kLevel: {
        int iPercent = PercentNumber(sValue);
        if (iPercent >= 0) {
          _Part.m_sText = std::to_string(iPercent) + "%";
        } else if (!sValue.empty()) {
          _Part.m_sText = _Rule.sLabel + sValue;
        }
        break;
      }
      case GlanceKind::kAge: {
        std::string sAge = MomentAge(sValue, tNow);
        if (sAge.empty()) break;
        bool bJoined = false;
        for (const auto& flag : vecFlagsSet) {
          if (std::string(flag.first) != _Rule.sOther) continue;
          vecParts[flag.second].m_sText += " " + sAge;
          bJoined = true;
        }
        if (!bJoined) _Part.m_sText = _Rule.sLabel + sAge;
        break;
      }
      case GlanceKind::kMark:
        _Part.m_sText = _Rule.sLabel;
        break;
    }
    if (!_Part.m_sText.empty()) vecParts.push_back(_Part);
  }
  return vecParts;
}

}  // namespace

std::vector<ScreenGlancePart> ScreenGlanceParts(const Veru::VariableMap& mapVariables,
                                                int64_t tNow, int iWidth) {
  std::vector<ScreenGlancePart> vecParts;
  PartsThatFit _Fit(&vecParts, iWidth);
  std::vector<ScreenGlancePart> vecRuleParts = RuleParts(mapVariables, tNow);
  for (ScreenGlancePart& _Part : vecRuleParts) {
    if (!_Fit.Add(std::move(_Part))) break;
  }
  if (!vecRuleParts.empty()) return vecParts;
  // Anything else: its variables as they are, never a secret; only those
  // that fit are made.
  for (const auto& variable : mapVariables) {
    if (IsSecretName(variable.first)) continue;
    if (!_Fit.Add({variable.first + "=" + variable.second, ScreenRole::kPlain})) break;
  }
  return vecParts;
}

std::string ScreenGlanceText(const std::vector<ScreenGlancePart>& vecParts) {
  std::string sText;
  for (const ScreenGlancePart& _Part : vecParts) {
    if (!sText.empty()) sText += kScreenGlanceJoin;
    sText += _Part.m_sText;
  }
  return sText;
}

std::string ScreenAgeText(int64_t tSeconds) {
  bool bAhead = tSeconds < 0;
  int64_t tSpan = bAhead ? -tSeconds : tSeconds;
  std::string sSpan;
  if (tSpan < 60) {
    sSpan = std::to_string(tSpan) + " s";
  } else if (tSpan < 3600) {
    sSpan = std::to_string(tSpan / 60) + " min";
  } else if (tSpan < 2 * 86400) {
    sSpan = std::to_string(tSpan / 3600) + " h";
  } else {
    sSpan = std::to_string(tSpan / 86400) + " d";
  }
  return bAhead ? "in " + sSpan : sSpan + " ago";
}
