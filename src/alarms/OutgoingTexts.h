#pragma once
// The texts the dispatcher hands to the SMS and e-mail workers.
//
// No lock: the dispatcher (main thread) writes a text only while its
// worker's busy mark (the Tag of InviaSMS_Timer / InviaMail_Timer) is 0 and
// before it enables that start timer; the worker reads it only after the
// timer has fired, and the dispatcher leaves it alone until the worker has
// cleared the mark again.

#include <string>

namespace alarms {

extern std::string TestoSMS;     // read by the SMS worker
extern std::string OggettoMail;  // subject, read by the e-mail worker
extern std::string TestoMail;    // body, read by the e-mail start timer and worker

}  // namespace alarms
