#pragma once
// The dial-up connection: the three Remote Access entry points bound at run
// time from librasapi32.so, and the dial-before / hang-up-after sequence of
// the notification workers. The program works without the library: every
// operation then answers as "not available".

#include "platform/rasapi32/RasApi.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct TSettings;

namespace notify {

// Start-up binding: ProgramDir + "librasapi32.so", else the plain soname
// (the program's RUNPATH). Counted: only the first call binds and only the
// matching last FinalizeRas releases the library. Main thread, before any
// worker runs and after all have ended.
void InitializeRas();
void FinalizeRas();
bool DialUpAvailable();

// Tests: drops the current binding and binds `path` alone ("" for none),
// whatever the count.
void BindRasLibraryForTests(const std::string& path);

// Any thread. The platform's result, -1 without the library or RasEnumEntriesA.
// `entries` holds *byteSize bytes; its first dwSize must be set.
int32_t ElencaConnessioni(RASENTRYNAMEA* entries, DWORD* byteSize, DWORD* count);
// Any thread; blocks until the dial ends. A connection handle, 0 without the
// library or RasDialA, on a failed dial, or when a text does not fit its
// field (more than 256 bytes): that one is refused without dialling.
uintptr_t ComponiConnessione(const std::string& nomeConnessione, const std::string& username,
                             const std::string& password);
// Any thread. The platform's result, -1 without the library or RasHangUpA.
int32_t ChiudiConnessione(uintptr_t handle);

// The entries of the default phone book for the connection dialog, in the
// order given; empty when listing fails (more than 100 entries included).
std::vector<std::string> ListaConnessioni();

// Written by whichever notification worker dialled last, read by the one
// that hangs up; 0 means none. Hanging up does not reset it.
extern std::atomic<uintptr_t> HandleConnessione;

// The Conn_* values one exchange uses, copied by the caller on the main
// thread so that the worker never reads Settings while it is edited.
struct ConnectionSettings {
    bool AttivaConnessione = false;
    std::string NomeConnessione;
    std::string Username;
    std::string Password;
    bool Disconnetti = true;

    static ConnectionSettings From(const TSettings& settings);
};

// Worker thread, before the exchange: log "Connessione", dial into
// HandleConnessione, pause 100 ms; nothing when dialling is off. A failed
// dial is not reported here: the exchange that follows fails on its own.
void DialBeforeExchange(const ConnectionSettings& conn);
// Worker thread, after the exchange and before clearing its own Tag: hang
// up HandleConnessione and pause 2 x 150 ms, unless the other worker is
// still busy (its Tag is 1), which then hangs up when it finishes.
void HangUpAfterExchange(const ConnectionSettings& conn, const std::atomic<int>& otherWorkerTag);

// The end of a worker's run: the hang-up test and the clearing of the
// worker's own Tag as one step against the other worker's. Two workers
// ending at the same moment would otherwise each see the other busy and
// neither hang up; this way the later one sees the earlier one free.
using HangUpFn = std::function<void(const ConnectionSettings&, const std::atomic<int>&)>;
void EndExchange(const ConnectionSettings& conn, const std::atomic<int>& otherWorkerTag,
                 const std::function<void()>& clearOwnTag, const HangUpFn& hangUp = HangUpAfterExchange);

// The sequence's pauses go through here; tests replace the sleep.
using PauseFn = void (*)(int milliseconds);
void Pause(int milliseconds);
void SetPauseForTests(PauseFn pause);  // nullptr: the real sleep

}  // namespace notify
