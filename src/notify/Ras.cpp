#include "notify/Ras.h"

#include "alarms/EventLog.h"
#include "core/Globali.h"
#include "platform/DateTime.h"

#include <chrono>
#include <cstring>
#include <dlfcn.h>
#include <mutex>
#include <thread>

namespace notify {

std::atomic<uintptr_t> HandleConnessione{0};

namespace {

// Written only while binding, which happens before any caller runs (or, in
// tests, between them); read-only otherwise.
struct Binding {
    void* library = nullptr;
    RasDialAFn dial = nullptr;
    RasEnumEntriesAFn enumEntries = nullptr;
    RasHangUpAFn hangUp = nullptr;
};
Binding binding;
std::mutex bindingMutex;  // orders InitializeRas / FinalizeRas among themselves
int initCount = 0;

void Bind(const std::vector<std::string>& candidates) {
    for (const auto& name : candidates) {
        if (name.empty()) continue;
        void* lib = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!lib) continue;
        binding.library = lib;
        binding.dial = reinterpret_cast<RasDialAFn>(dlsym(lib, "RasDialA"));
        binding.enumEntries = reinterpret_cast<RasEnumEntriesAFn>(dlsym(lib, "RasEnumEntriesA"));
        binding.hangUp = reinterpret_cast<RasHangUpAFn>(dlsym(lib, "RasHangUpA"));
        return;
    }
}

void Unbind() {
    if (binding.library) dlclose(binding.library);
    binding = Binding{};
}

// Copies `text` and its zero byte into a field of `size` bytes.
bool CopyField(char* field, size_t size, const std::string& text) {
    if (text.size() >= size) return false;
    std::memcpy(field, text.c_str(), text.size() + 1);
    return true;
}

void RealSleep(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

std::atomic<PauseFn> pauseFn{nullptr};

constexpr int kListRoom = 100;

}  // namespace

void InitializeRas() {
    std::lock_guard<std::mutex> lock(bindingMutex);
    if (initCount++ > 0) return;
    Bind({ProgramDir + "librasapi32.so", "librasapi32.so"});
}

void FinalizeRas() {
    std::lock_guard<std::mutex> lock(bindingMutex);
    if (initCount == 0 || --initCount > 0) return;
    Unbind();
}

bool DialUpAvailable() { return binding.library != nullptr; }

void BindRasLibraryForTests(const std::string& path) {
    std::lock_guard<std::mutex> lock(bindingMutex);
    Unbind();
    Bind({path});
}

int32_t ElencaConnessioni(RASENTRYNAMEA* entries, DWORD* byteSize, DWORD* count) {
    if (!binding.library || !binding.enumEntries) return -1;
    return static_cast<int32_t>(binding.enumEntries(nullptr, nullptr, entries, byteSize, count));
}

uintptr_t ComponiConnessione(const std::string& nomeConnessione, const std::string& username,
                             const std::string& password) {
    if (!binding.library || !binding.dial) return 0;
    RASDIALPARAMSA params;
    std::memset(&params, 0, sizeof params);
    params.dwSize = sizeof params;
    // Phone number, callback number and domain stay empty: the entry has them.
    if (!CopyField(params.szEntryName, sizeof params.szEntryName, nomeConnessione) ||
        !CopyField(params.szUserName, sizeof params.szUserName, username) ||
        !CopyField(params.szPassword, sizeof params.szPassword, password))
        return 0;
    HRASCONN handle = nullptr;
    const DWORD result = binding.dial(nullptr, nullptr, &params, 0, nullptr, &handle);
    std::memset(params.szPassword, 0, sizeof params.szPassword);
    if (result != 0) return 0;
    return reinterpret_cast<uintptr_t>(handle);
}

int32_t ChiudiConnessione(uintptr_t handle) {
    if (!binding.library || !binding.hangUp) return -1;
    return static_cast<int32_t>(binding.hangUp(reinterpret_cast<HRASCONN>(handle)));
}

std::vector<std::string> ListaConnessioni() {
    std::vector<RASENTRYNAMEA> entries(kListRoom);  // zeroed
    entries[0].dwSize = sizeof(RASENTRYNAMEA);
    DWORD byteSize = static_cast<DWORD>(entries.size() * sizeof(RASENTRYNAMEA));
    DWORD count = 0;
    std::vector<std::string> names;
    if (ElencaConnessioni(entries.data(), &byteSize, &count) != 0) return names;
    // A library that claims more than it had room for is not believed past it.
    const size_t n = count < entries.size() ? count : entries.size();
    for (size_t i = 0; i < n; ++i) {
        const char* name = entries[i].szEntryName;
        names.emplace_back(name, strnlen(name, sizeof entries[i].szEntryName));
    }
    return names;
}

ConnectionSettings ConnectionSettings::From(const TSettings& settings) {
    ConnectionSettings c;
    c.AttivaConnessione = settings.Conn_AttivaConnessione;
    c.NomeConnessione = settings.Conn_NomeConnessione;
    c.Username = settings.Conn_Username;
    c.Password = settings.Conn_Password;
    c.Disconnetti = settings.Conn_Disconnetti;
    return c;
}

void DialBeforeExchange(const ConnectionSettings& conn) {
    if (!conn.AttivaConnessione) return;
    alarms::WriteLogEntry(platform::FormatDateTime("d/m/yy hh:nn:ss", platform::Now()),
                          "Connessione", alarms::IconConnessione,
                          "Attivazione connessione ad Internet in corso ...");
    HandleConnessione = ComponiConnessione(conn.NomeConnessione, conn.Username, conn.Password);
    Pause(100);
}

void HangUpAfterExchange(const ConnectionSettings& conn, const std::atomic<int>& otherWorkerTag) {
    if (!conn.AttivaConnessione || !conn.Disconnetti || otherWorkerTag.load() == 1) return;
    ChiudiConnessione(HandleConnessione.load());
    Pause(150);
    Pause(150);
}

void EndExchange(const ConnectionSettings& conn, const std::atomic<int>& otherWorkerTag,
                 const std::function<void()>& clearOwnTag, const HangUpFn& hangUp) {
    static std::mutex ending;
    std::lock_guard<std::mutex> lock(ending);
    if (hangUp) hangUp(conn, otherWorkerTag);
    if (clearOwnTag) clearOwnTag();
}

void Pause(int milliseconds) {
    const PauseFn fn = pauseFn.load();
    (fn ? fn : RealSleep)(milliseconds);
}

void SetPauseForTests(PauseFn pause) { pauseFn = pause; }

}  // namespace notify
