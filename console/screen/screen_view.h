// ScreenView is the state of the full-screen view that is not the home: the
// page shown, the selected row, the first row on screen, the filter, the
// line being typed and the message line. ScreenViewKey applies one key to
// it and says what the program must do about it (run a command, quit, ...).
//
// The selection and the first row are held by kind and id (a device or a
// scene number), never by screen line, so they stay on the same device when
// rows move or the home is reloaded.
// Threads: none of its own; the view's one ScreenView lives in its
//   ScreenState, under the state's lock (the drawing loop applies keys to
//   it, the reports write messages and results into it).
#ifndef VERU_CONSOLE_SCREEN_SCREEN_VIEW_H
#define VERU_CONSOLE_SCREEN_SCREEN_VIEW_H

#include <map>
#include <set>
#include <string>
#include <vector>

#include "console/screen/screen_model.h"

enum class ScreenPage { kList, kDetail, kKeys };
// kWizard: a yes/no answer, whether to run the connection wizard (a line,
// as in the plain console: the answer, then Enter).
enum class ScreenInput { kNone, kFilter, kCommand, kPassword, kWizard };

// A level asked for with + or - that the unit has not reported yet. While
// the unit reports one of the levels on the way (the one shown when the
// first step was asked, or one asked since), the next step starts from the
// level asked for, so quick presses add up.
struct ScreenAskedLevel {
  int iLevel = 0;
  std::set<int> setOnTheWay;
};

struct ScreenView {
  ScreenPage m_ePage = ScreenPage::kList;
  // The selected row; id 0: none chosen yet (the first row is taken).
  int m_iSelectedKind = ScreenRowKey::kDevice;
  int m_iSelectedID = 0;
  // The first row of the body as last laid out (or the first row after it,
  // when it is gone).
  ScreenRowKey m_TopKey;
  // The first line shown of the detail or keys page.
  int m_iPageTop = 0;
  // Rows whose name holds this text (any case); empty: every row.
  std::string m_sFilter;
  // The line being typed on the message line, and what it is for.
  ScreenInput m_eInput = ScreenInput::kNone;
  std::string m_sInput;
  // By device: the level + and - asked for last, until the unit reports
  // another (see ScreenAskedLevel).
  std::map<int, ScreenAskedLevel> m_mapAskedLevels;
  // The message line: the last command's result or an error (raw text,
  // escaped when laid out).
  std::string m_sMessage;
  // The camera URLs of the device m_iCameraID, once asked for.
  int m_iCameraID = 0;
  std::string m_sImageURL;
  std::string m_sStreamURL;
  // The history lines of device m_iHistoryID for its detail page (see
  // console/history/history_detail.h), as the drawing loop last read them.
  int m_iHistoryID = 0;
  std::vector<std::string> m_vecHistory;
};

// What a key asks of the program beyond the view's own state.
struct ScreenRequest {
  enum Kind {
    kNothing,
    kRedraw,       // the terminal is to be cleared and drawn anew
    kQuit,
    kCommand,      // run m_sText as a console command line
    kPassword,     // m_sText is the password typed
    kCameraURLs,   // ask for the URLs of camera m_iID
    kWizard,       // run the connection wizard
  };
  Kind m_eKind = kNothing;
  std::string m_sText;
  int m_iID = 0;
};

// Applies one key (see screen_keys.h) to *pView. iPageRows is the number of
// body rows of the last frame (PgUp/PgDn move by it).
ScreenRequest ScreenViewKey(const ScreenModel& _Model, ScreenView* pView,
                            int iKey, int iPageRows);

// Puts the line editor on the message line for a password (typed without
// echo).
void ScreenAskPassword(ScreenView* pView);
// Asks on the message line whether to run the connection wizard (after the
// user name or password was refused).
void ScreenOfferWizard(ScreenView* pView);

// --- Rows as the view shows them ---------------------------------------------
// True when the row passes the filter (placeholders only without one).
bool ScreenRowShown(const ScreenModel& _Model, const ScreenView& _View,
                    const ScreenRowKey& _Key);
// The selected row as it is now: the selection's row when it is shown, else
// the first shown row that can be selected. False when there is none.
bool ScreenSelectedRow(const ScreenModel& _Model, const ScreenView& _View,
                       ScreenRowKey* pKey);
// A device's state came from the unit: a level asked for with + or - is
// forgotten once the unit reports it, or a level not on the way to it.
void ScreenDeviceReported(ScreenView* pView, const ScreenDevice& _Device);

#endif  // VERU_CONSOLE_SCREEN_SCREEN_VIEW_H
