#include "FakeRasApi32.h"

#include "platform/rasapi32/RasApi.h"

#include <cstring>
#include <mutex>

namespace {
FakeRasState state;
std::mutex mutex;  // two workers dial at once
}

extern "C" {

__attribute__((visibility("default"))) FakeRasState* FakeRasStateGet() { return &state; }

__attribute__((visibility("default"))) DWORD RasEnumEntriesA(LPCSTR reserved, LPCSTR phoneBook,
                                                             LPRASENTRYNAMEA entries,
                                                             LPDWORD byteSize, LPDWORD count) {
    std::lock_guard<std::mutex> lock(mutex);
    ++state.enumCalls;
    state.enumReserved = reserved;
    state.enumPhoneBook = phoneBook;
    state.enumByteSize = *byteSize;
    state.enumFirstSize = entries ? entries->dwSize : 0;
    if (state.enumResult != 0) return state.enumResult;
    for (int i = 0; i < state.enumNames; ++i) {
        entries[i].dwSize = sizeof(RASENTRYNAMEA);
        std::memcpy(entries[i].szEntryName, state.names[i], sizeof state.names[i]);
    }
    *count = state.enumCountOut;
    return 0;
}

#ifndef FAKE_RAS_ENUM_ONLY
__attribute__((visibility("default"))) DWORD RasDialA(LPRASDIALEXTENSIONS extensions,
                                                      LPCSTR phoneBook, LPRASDIALPARAMSA params,
                                                      DWORD notifierType, void* notifier,
                                                      LPHRASCONN connection) {
    std::lock_guard<std::mutex> lock(mutex);
    ++state.dialCalls;
    std::memcpy(state.dialParams, params, sizeof state.dialParams);
    state.dialSizeField = params->dwSize;
    state.dialExtensions = extensions;
    state.dialPhoneBook = phoneBook;
    state.dialNotifierType = notifierType;
    state.dialNotifier = notifier;
    state.dialHandleBefore = reinterpret_cast<uintptr_t>(*connection);
    if (state.dialResult != 0) return state.dialResult;
    *connection = reinterpret_cast<HRASCONN>(state.dialHandle);
    return 0;
}

__attribute__((visibility("default"))) DWORD RasHangUpA(HRASCONN connection) {
    std::lock_guard<std::mutex> lock(mutex);
    ++state.hangUpCalls;
    state.hangUpHandle = reinterpret_cast<uintptr_t>(connection);
    return state.hangUpResult;
}
#endif

}
