#include "alarms/OutgoingTexts.h"

namespace alarms {

std::string TestoSMS;
std::string OggettoMail;
std::string TestoMail;

}  // namespace alarms
