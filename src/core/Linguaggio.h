#pragma once
// The program's fixed texts used by more than one room.

namespace Linguaggio {
inline constexpr const char* Versione = "2.0";
inline constexpr const char* CartellaSuoni = "Suoni";
inline constexpr const char* CartellaVideo = "Video";
inline constexpr const char* CartellaFoto = "Foto";
inline constexpr const char* FileSuonoPredefinito = "DefaultAlarm.wav";

// The SMS gateway. The default host names no real service (".invalid" never
// resolves); whoever runs a gateway of their own, and the tests, point
// OCULARA_SMS_GATEWAY=host:port at it.
inline constexpr const char* GatewayHost = "sms-gateway.invalid";
inline constexpr int GatewayPort = 80;
inline constexpr const char* GatewayPath = "/sms/send.php";
// This build carries no serial number: the gateway gets an empty numserie.
inline constexpr const char* NumeroSerie = "";
}  // namespace Linguaggio
