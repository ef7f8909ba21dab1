#pragma once
// A stand-in dial-up library for the binding tests: it keeps what it was
// called with and answers as the test tells it. The test reaches the same
// copy through FakeRasState (dlopen of the same path shares it).

#include <cstdint>

extern "C" {

struct FakeRasState {
    // RasDialA
    int dialCalls;
    unsigned char dialParams[1052];  // the first 1052 bytes passed, raw
    uint32_t dialSizeField;
    const void* dialExtensions;
    const char* dialPhoneBook;
    uint32_t dialNotifierType;
    const void* dialNotifier;
    uintptr_t dialHandleBefore;
    uint32_t dialResult;      // returned
    uintptr_t dialHandle;     // stored into the handle on success
    // RasEnumEntriesA
    int enumCalls;
    const char* enumReserved;
    const char* enumPhoneBook;
    uint32_t enumByteSize;    // *lpcb on entry
    uint32_t enumFirstSize;   // dwSize of the first record on entry
    uint32_t enumResult;      // returned
    int enumNames;            // how many of `names` to report
    uint32_t enumCountOut;    // stored into the count (normally enumNames)
    char names[4][257];
    // RasHangUpA
    int hangUpCalls;
    uintptr_t hangUpHandle;
    uint32_t hangUpResult;
};

FakeRasState* FakeRasStateGet();
using FakeRasStateGetFn = FakeRasState* (*)();

}
