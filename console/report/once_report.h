// OnceReport is --once: it wraps the report of the form chosen (text or
// JSON), passes every report on to it, and ends polling once the first full
// report has been passed on, or as soon as no full report is to be expected
// (a password needed or refused, the connection lost, three failed polls in
// a row). Run then asks Reported and FailureReason for the exit status.
//
// Threads: as Report; the state it keeps is atomic, written by the poll
// thread and read by Run once the poll thread has ended.
// Ownership: owns the wrapped report; the poll loop is borrowed and outlives
// it.
#ifndef VERU_CONSOLE_REPORT_ONCE_REPORT_H
#define VERU_CONSOLE_REPORT_ONCE_REPORT_H

#include <atomic>
#include <memory>
#include <string>

#include "console/report/report.h"

class OnceReport : public Report {
 public:
  OnceReport(std::unique_ptr<Report> pInner, Veru::PollLoop* pPollLoop)
      : m_pInner(std::move(pInner)), m_pPollLoop(pPollLoop) {}

  // True once the full report was passed on.
  bool Reported() const { return m_bReported; }
  // Why polling was given up before a full report, or null.
  const char* FailureReason() const { return m_sFailure; }
  // The time allowed (iSeconds) ran out: polling is given up with that
  // reason, unless a report or another reason came first. Console thread,
  // once.
  void TimedOut(int iSeconds);

  void Device(const Veru::Device& _Device, bool bShown) override;
  void Scene(const Veru::Scene& _Scene) override;
  void EngineState(const Veru::PollLoop& _PollLoop) override;
  void Full(const Veru::PollLoop& _PollLoop, bool bShown) override;
  void Partial(int iDataVersion, int iLoadTime) override;

  void PasswordNeeded() override;
  void UserPasswordNeeded() override;
  void ConnectionRetry(bool bRemote) override;
  void UnableToConnect() override;
  void ConnectionLost() override;
  void NoResponse(int iCount, int64_t tElapsed) override;
  void ConnectionRestored(int64_t tOutageSeconds) override;

  void Result(const CommandResult& _Result) override;
  void NoSuchDevice(const std::string& sCommand,
                    const std::string& sWord) override;
  void Refused(const std::string& sCommand,
               const std::string& sReason) override;
  void Help() override;
  void Notice(const std::string& sText) override;
  void History(const HistoryAnswer& _Answer) override;

 private:
  // Ends polling without a report; the first reason given stays.
  void GiveUp(const char* sReason);

  std::unique_ptr<Report> m_pInner;
  Veru::PollLoop* m_pPollLoop;
  std::atomic<bool> m_bReported{false};
  std::atomic<const char*> m_sFailure{nullptr};
  // The reason TimedOut gives; written once, before it is published.
  std::string m_sTimedOut;
};

#endif  // VERU_CONSOLE_REPORT_ONCE_REPORT_H
