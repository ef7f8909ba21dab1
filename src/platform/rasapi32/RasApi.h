#pragma once
// The three Remote Access entry points in their ANSI forms, the records they
// exchange and the result codes librasapi32.so returns. The layouts are the
// Windows ones byte for byte (4-byte DWORD, natural alignment), so code
// written against the Windows library works on these records unchanged.

#include <cstddef>
#include <cstdint>

using DWORD = uint32_t;
using LPCSTR = const char*;
using LPDWORD = DWORD*;
using HRASCONN = struct HRASCONN__*;
using LPHRASCONN = HRASCONN*;
struct RASDIALEXTENSIONS;
using LPRASDIALEXTENSIONS = RASDIALEXTENSIONS*;

constexpr int RAS_MaxEntryName = 256;
constexpr int RAS_MaxPhoneNumber = 128;
constexpr int RAS_MaxCallbackNumber = 128;
constexpr int UNLEN = 256;
constexpr int PWLEN = 256;
constexpr int DNLEN = 15;

// First layout (no sub-entry, no callback id): 1052 bytes.
struct RASDIALPARAMSA {
    DWORD dwSize;
    char szEntryName[RAS_MaxEntryName + 1];
    char szPhoneNumber[RAS_MaxPhoneNumber + 1];
    char szCallbackNumber[RAS_MaxCallbackNumber + 1];
    char szUserName[UNLEN + 1];
    char szPassword[PWLEN + 1];
    char szDomain[DNLEN + 1];
};
using LPRASDIALPARAMSA = RASDIALPARAMSA*;

// First layout (name only): 264 bytes.
struct RASENTRYNAMEA {
    DWORD dwSize;
    char szEntryName[RAS_MaxEntryName + 1];
};
using LPRASENTRYNAMEA = RASENTRYNAMEA*;

// 4 + 257 + 129 + 129 + 257 + 257 + 16 = 1049, padded to the DWORD alignment.
static_assert(sizeof(RASDIALPARAMSA) == 1052);
static_assert(offsetof(RASDIALPARAMSA, szEntryName) == 4);
static_assert(offsetof(RASDIALPARAMSA, szPhoneNumber) == 261);
static_assert(offsetof(RASDIALPARAMSA, szCallbackNumber) == 390);
static_assert(offsetof(RASDIALPARAMSA, szUserName) == 519);
static_assert(offsetof(RASDIALPARAMSA, szPassword) == 776);
static_assert(offsetof(RASDIALPARAMSA, szDomain) == 1033);
// 4 + 257 = 261, padded to 264.
static_assert(sizeof(RASENTRYNAMEA) == 264);

// Result codes (the Windows values).
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_NOT_SUPPORTED = 50;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_BUFFER_TOO_SMALL = 603;
constexpr DWORD ERROR_CANNOT_OPEN_PHONEBOOK = 621;
constexpr DWORD ERROR_CANNOT_LOAD_PHONEBOOK = 622;
constexpr DWORD ERROR_CANNOT_FIND_PHONEBOOK_ENTRY = 623;
constexpr DWORD ERROR_INVALID_SIZE = 632;
constexpr DWORD ERROR_UNKNOWN = 635;
constexpr DWORD ERROR_REQUEST_TIMEOUT = 638;
constexpr DWORD ERROR_RASMAN_CANNOT_INITIALIZE = 711;

// The entry points, as looked up by name.
using RasDialAFn = DWORD (*)(LPRASDIALEXTENSIONS, LPCSTR, LPRASDIALPARAMSA, DWORD, void*,
                             LPHRASCONN);
using RasEnumEntriesAFn = DWORD (*)(LPCSTR, LPCSTR, LPRASENTRYNAMEA, LPDWORD, LPDWORD);
using RasHangUpAFn = DWORD (*)(HRASCONN);
