#pragma once
// The SMS worker ThreadSMS and the main-thread half of its start timer
// InviaSMS_Timer.

#include "core/Globali.h"
#include "notify/SmsGateway.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace notify {

// What one sending reads, copied on the main thread when the timer fires, so
// the worker never reads the live Settings or TestoSMS.
struct SmsJob {
    TSettings settings;
    std::string testoSMS;
    std::string identificativoPC;
    std::string numeroSerie;
};

// One run of the worker (az=1): dial before, request, log entries, stamp,
// hang up after. Worker thread. `oraUltimoInvio` is the live
// Settings.SMS_OraUltimoInvio (locked), `otherWorkerTag` the Tag of
// InviaMail_Timer: the hang-up is left to the mail worker while it runs.
// `clearOwnTag` ends the run together with the hang-up test (EndExchange).
void ThreadSMSRun(const SmsJob& job, HttpClient& http1, TimeStamp& oraUltimoInvio,
                  const std::atomic<int>& otherWorkerTag, const std::function<void()>& clearOwnTag = {});

// One persistent thread that runs ThreadSMSRun once for every Start, in
// order. A start that comes while the previous run is still ending waits for
// it and then runs: none is dropped. The busy mark (InviaSMS_Timer's Tag)
// goes back to 0 only when the last queued run has ended.
class ThreadSMS {
public:
    ThreadSMS(std::atomic<int>& tag, const std::atomic<int>& otherWorkerTag, TimeStamp& oraUltimoInvio,
              std::chrono::milliseconds timeLimit = HttpClient::kDefaultTimeLimit,
              std::chrono::milliseconds deadline = HttpClient::kDefaultDeadline);
    // Drops the runs not yet begun and cuts the exchange under way short
    // (a dial under way still ends on its own).
    ~ThreadSMS();
    ThreadSMS(const ThreadSMS&) = delete;
    ThreadSMS& operator=(const ThreadSMS&) = delete;

    std::atomic<int>& Tag() { return tag_; }

    // Main thread. Sets the busy mark and queues the run.
    void Start(SmsJob job);
    // Blocks until every queued run has ended.
    void WaitIdle();

private:
    void Loop();

    std::atomic<int>& tag_;
    const std::atomic<int>& otherWorkerTag_;
    TimeStamp& oraUltimoInvio_;
    HttpClient http1_;  // worker thread only, but for Abort

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::deque<SmsJob> jobs_;
    bool running_ = false;  // a run is under way
    bool stopping_ = false;
    std::thread thread_;  // last: starts once everything above exists
};

// InviaSMS_TimerTimer after the timer has disabled itself: Tag 1, the
// snapshot of Settings, TestoSMS and IdentificativoPC, and the worker's start.
void InviaSMS_TimerTimer(ThreadSMS& threadSMS);

}  // namespace notify
