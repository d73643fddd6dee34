// HistoryRecorder keeps the home's history: a listener of the report
// fan-out that compares every device, scene and full report with what the
// history file last recorded, and writes what differs (see history_file.h
// for the tables). Each merged reply is one transaction: the changes of its
// device and scene reports are gathered and written when the report that
// ends the reply (a partial, an engine state or a full report) arrives. A
// full reply records only values that differ from the last recorded, so a
// restart with nothing changed adds nothing. Connection losses and
// restorations are written as they come. The reports for "show" are not
// changes and are left out. Old rows are purged when recording starts and
// then at most hourly (history_purge.h). The latest values are not
// written with every reply (a page or more for each): see
// kLatestWriteDevices.
//
// When the file cannot be written any more (the disk full, the file gone
// read-only), it says so once on standard error and records nothing more;
// the program goes on.
//
// Threads: Open runs on the thread that starts the program; OnReport and
// OnStop on the listener's own thread (the fan-out's), which is the only
// one that writes the file. Ownership: owns its connection to the file.
#ifndef VERU_CONSOLE_HISTORY_HISTORY_RECORDER_H
#define VERU_CONSOLE_HISTORY_HISTORY_RECORDER_H

#include <cstdint>
#include <memory>
#include <string>

#include "console/history/history_writer.h"
#include "console/report/report_listener.h"

class HistoryRecorder : public ReportListener {
 public:
  // The latest values (history_file.h) are written with the reply that
  // leaves this many devices unwritten, with the first reply this long
  // after they were last written, before a purge and at the end;
  // meanwhile the change table holds them.
  static constexpr size_t kLatestWriteDevices = 1000;
  static constexpr int64_t kLatestWriteSeconds = 600;

  // Opens (or makes) the history file at sPath and reads what it last
  // recorded, purging what is older than iRetentionDays. Null, with
  // *pReason set (one line naming the file), when it cannot be recorded.
  static std::unique_ptr<HistoryRecorder> Open(const std::string& sPath,
                                               int iRetentionDays,
                                               std::string* pReason);

  void OnReport(const ReportEvent& _Event) override;
  void OnStop() override;

 private:
  HistoryRecorder(std::unique_ptr<HistoryWriter> pWriter, std::string sPath,
                  int iRetentionDays);

  // Adds what differs in _Device to the batch.
  void CompareDevice(int64_t tTime, int iUnit, const Veru::Device& _Device);
  void CompareScene(int64_t tTime, int iUnit, const Veru::Scene& _Scene);
  void CompareValue(int64_t tTime, int iUnit, int iDevice,
                    RecordedDevice* pRecorded, const std::string& sVariable,
                    const std::string& sValue);
  // Writes the batch (one transaction), then purges when it is time.
  void Commit(int64_t tNow, bool bWriteLatest = false);
  // Writes the batch, with the latest values of the devices changed since
  // they were last written when bWriteLatest, or when there are many or
  // it has been a while. False, with *pReason set, when it failed.
  bool WriteBatch(int64_t tNow, bool bWriteLatest, std::string* pReason);
  void PurgeIfDue(int64_t tNow);
  // Says why, once, and records nothing more.
  void GiveUp(const std::string& sReason);

  std::unique_ptr<HistoryWriter> m_pWriter;
  std::string m_sPath;
  int64_t m_iRetentionSeconds;
  int64_t m_tLastPurge = 0;
  int64_t m_tLatestWritten = 0;
  RecordedHome m_Home;
  HistoryBatch m_Batch;
};

#endif  // VERU_CONSOLE_HISTORY_HISTORY_RECORDER_H
