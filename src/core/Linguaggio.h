#pragma once
// The program's fixed texts used by more than one room.

namespace Linguaggio {
inline constexpr const char* Versione = "2.0";
inline constexpr const char* CartellaSuoni = "Suoni";
inline constexpr const char* CartellaVideo = "Video";
inline constexpr const char* CartellaFoto = "Foto";
inline constexpr const char* FileSuonoPredefinito = "DefaultAlarm.wav";
}  // namespace Linguaggio
