#include "notify/SmsWorker.h"

#include "alarms/EventLog.h"
#include "alarms/OutgoingTexts.h"
#include "core/Linguaggio.h"
#include "notify/Ras.h"
#include "platform/DateTime.h"

namespace notify {

namespace {

void Log(const std::string& type, int icon, const std::string& description) {
    alarms::WriteLogEntry(platform::FormatDateTime("d/m/yy hh:nn:ss", platform::Now()), type, icon,
                          description);
}

}  // namespace

void ThreadSMSRun(const SmsJob& job, HttpClient& http1, TimeStamp& oraUltimoInvio,
                  const std::atomic<int>& otherWorkerTag, const std::function<void()>& clearOwnTag) {
    const ConnectionSettings connection = ConnectionSettings::From(job.settings);
    DialBeforeExchange(connection);

    const GatewayFields fields{job.identificativoPC, job.numeroSerie, job.settings.SMS_UserName,
                               job.settings.SMS_Password, job.settings.SMS_NumeroCellulare};
    const std::string answer = RichiestaGateway(http1, job.settings, UrlInvioSMS(fields, job.testoSMS));

    // Cut short because the program is closing: nothing to report.
    if (!http1.Aborted()) {
        if (!answer.empty()) {
            const std::string err = ValoreTag(answer, "err");
            if (!err.empty()) {
                Log("Errore", alarms::IconErrore, err);
            } else {
                const std::string nr = ValoreTag(answer, "nr");
                Log("Allarme", alarms::IconSMS,
                    nr.empty() ? std::string("Inviata notifica tramite SMS.")
                               : "Inviata notifica tramite SMS, SMS rimanenti: " + nr);
                oraUltimoInvio.Set(platform::FormatDateTime("yyyymmddhhnn", platform::Now()));
            }
            const std::string msg = ValoreTag(answer, "msg");
            if (!msg.empty()) Log("Informazione", alarms::IconInformazione, msg);
        } else {
            Log("Errore", alarms::IconErrore,
                "Impossibile inviare l'SMS. Impossibile stabilire la connessione con il server!");
        }
    }

    EndExchange(connection, otherWorkerTag, clearOwnTag);
}

ThreadSMS::ThreadSMS(std::atomic<int>& tag, const std::atomic<int>& otherWorkerTag,
                     TimeStamp& oraUltimoInvio, std::chrono::milliseconds timeLimit,
                     std::chrono::milliseconds deadline)
    : tag_(tag),
      otherWorkerTag_(otherWorkerTag),
      oraUltimoInvio_(oraUltimoInvio),
      http1_(timeLimit, deadline),
      thread_([this] { Loop(); }) {}

ThreadSMS::~ThreadSMS() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        jobs_.clear();
    }
    http1_.Abort();
    wake_.notify_all();
    thread_.join();
    tag_ = 0;
}

void ThreadSMS::Start(SmsJob job) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_) return;
        jobs_.push_back(std::move(job));
        // Under the lock: a run ending right now must not clear the mark
        // after this job was queued.
        tag_ = 1;
    }
    wake_.notify_one();
}

void ThreadSMS::WaitIdle() {
    std::unique_lock<std::mutex> lock(mutex_);
    idle_.wait(lock, [this] { return jobs_.empty() && !running_; });
}

// Worker thread.
void ThreadSMS::Loop() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
        if (stopping_) break;
        const SmsJob job = std::move(jobs_.front());
        jobs_.pop_front();
        running_ = true;
        lock.unlock();
        try {
            ThreadSMSRun(job, http1_, oraUltimoInvio_, otherWorkerTag_, [this] {
                std::lock_guard<std::mutex> ownLock(mutex_);
                if (jobs_.empty()) tag_ = 0;
            });
        } catch (...) {
            // Out of memory in one run: the channel must not stay busy for it.
        }
        lock.lock();
        running_ = false;
        // The run's last step: the channel is free again, unless another
        // start came in the meantime and runs next.
        if (jobs_.empty()) tag_ = 0;
        idle_.notify_all();
    }
    running_ = false;
    idle_.notify_all();
}

void InviaSMS_TimerTimer(ThreadSMS& threadSMS) {
    threadSMS.Tag() = 1;
    threadSMS.Start(SmsJob{Settings, alarms::TestoSMS, IdentificativoPC, Linguaggio::NumeroSerie});
}

}  // namespace notify
